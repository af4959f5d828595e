// The thread message queue on fresh threads: a queue makes its descriptors
// only when it is first waited on, serviced or posted to, and timers set
// before that keep the expiries they were set for.
#include "platform/message_queue.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace qotool::test {
namespace {

std::atomic<int> g_ticks{0};

void Tick(uint64_t) { ++g_ticks; }

TEST(MessageQueueTest, TimersSetBeforeTheFirstServiceKeepTheirExpiry) {
    std::thread([] {
        g_ticks = 0;
        // Killed before the queue was ever serviced: it never runs.
        const uint64_t killed = platform::SetThreadTimer(1, Tick);
        ASSERT_NE(killed, 0u);
        EXPECT_TRUE(platform::KillThreadTimer(killed));
        EXPECT_FALSE(platform::KillThreadTimer(killed));

        const uint64_t timer = platform::SetThreadTimer(200, Tick);
        ASSERT_NE(timer, 0u);
        usleep(250 * 1000);  // the first expiry passed 50 ms ago
        const int fd = platform::ThreadMessageFd();
        ASSERT_GE(fd, 0);
        pollfd ready{fd, POLLIN, 0};
        EXPECT_EQ(poll(&ready, 1, 0), 1) << "a due timer leaves the queue unreadable";
        EXPECT_EQ(platform::ServiceThreadMessages(), 1);
        EXPECT_EQ(g_ticks, 1);
        // The next expiry is one period after the first, not after the service.
        EXPECT_EQ(platform::ServiceThreadMessages(), 0);
        EXPECT_GE(platform::PumpThreadMessages(-1), 1);
        EXPECT_EQ(g_ticks, 2);
        EXPECT_TRUE(platform::KillThreadTimer(timer));
    }).join();
}

TEST(MessageQueueTest, APostReachesAThreadWhoseQueueWasNeverServiced) {
    std::atomic<platform::QueueId> queue{0};
    std::atomic<bool> posted{false};
    std::thread receiver([&] {
        queue = platform::ThreadQueue();
        while (!posted) usleep(1000);
        EXPECT_TRUE(platform::PeekThreadMessage(7, false));
        EXPECT_TRUE(platform::WaitForPostedMessage(1000));
        EXPECT_TRUE(platform::PeekThreadMessage(7, true));
        EXPECT_FALSE(platform::PeekThreadMessage(7, false));
    });
    while (!queue) usleep(1000);
    EXPECT_NE(queue.load(), 0u);
    EXPECT_TRUE(platform::PostThreadMessage(queue, 7, 1));
    posted = true;
    receiver.join();
    EXPECT_FALSE(platform::PostThreadMessage(queue, 7, 1));  // the thread and its queue are gone
}

}  // namespace
}  // namespace qotool::test
