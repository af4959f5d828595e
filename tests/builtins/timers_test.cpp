// Timer runs a script cannot see: the log lines, a timer whose interpreter
// is gone, thread timers on their own threads, the queue's descriptor
// (counted runs, reopening and closing from inside are in
// tests/qol/timer_runs.cases). Waits are generous and functional: nothing
// here measures time.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "builtins/builtin_harness.h"
#include "builtins/timers.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/log_capture.h"

namespace {

using qotool::builtins::RunningTimerThreads;
using qotool::builtins::TimerIsOpen;
using qotool::test::Gbk;
using qotool::test::LogCapture;
using qotool::test::RunAndResult;

// Pumps this thread's queue until done() holds or 10 s have passed.
bool PumpUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        ruqo_PumpMessages(20);
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class TimersTest : public ::testing::Test {
protected:
    // The library's one-shot start timer runs (and logs) on the first pump
    // of the process: let it go before a test counts what runs and logs.
    void SetUp() override { ruqo_PumpMessages(5); }
    void TearDown() override {
        qotool::builtins::StopAllTimers();
        EXPECT_EQ(RunningTimerThreads(), 0);
    }
    CQoLanguage qo;
};

TEST_F(TimersTest, LogLinesOfOpeningClosingAndErrors) {
    LogCapture log(0x40);
    EXPECT_EQ(RunAndResult(qo, "timeropen(5, 0, 20, 0, 'zz(1);')"), "N:5");
    ASSERT_TRUE(PumpUntil([] { return !TimerIsOpen(5); }));
    EXPECT_EQ(RunAndResult(qo, "timeropen(1, 1, 1000, 0, 'x;'); timeropen(4, 0, 1000, 0, 'x;'); timerclose()"), "N:2");
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[0].rfind("开启QOL定时器 5（", 0), 0u) << qotool::test::Readable(messages[0]);
    EXPECT_EQ(Gbk(messages[1]), Gbk("关闭QOL定时器 5"));
    EXPECT_EQ(messages[2].rfind("5号定时器因运行错误而被关闭\r\n执行不认识的函数：zz", 0), 0u) << qotool::test::Readable(messages[2]);
    EXPECT_EQ(Gbk(messages[5]), Gbk("关闭QOL定时器 1"));
    EXPECT_EQ(Gbk(messages[6]), Gbk("关闭QOL定时器 4"));
    EXPECT_EQ(Gbk(messages[7]), Gbk("全部QOL定时器和延时器被关闭，关闭个数为2"));
    // The error went to the log, not to the interpreter that opened it.
    EXPECT_EQ(RunAndResult(qo, "1"), "N:1");
}

TEST_F(TimersTest, ATimerWhoseInterpreterIsGoneRunsNothing) {
    RunAndResult(qo, "system_gone=0");
    auto opener = std::make_unique<CQoLanguage>();
    EXPECT_EQ(RunAndResult(*opener, "timeropen(8, 0, 20, 0, 'system_gone=system_gone+1;')"), "N:8");
    opener.reset();
    // Even an interpreter built at the same address is another one.
    auto next = std::make_unique<CQoLanguage>();
    ruqo_PumpMessages(200);
    EXPECT_EQ(RunAndResult(qo, "system_gone"), "N:0");
    // The timer stays open until it is closed.
    EXPECT_TRUE(TimerIsOpen(8));
    EXPECT_EQ(RunAndResult(qo, "timerclose(8)"), "N:8");
}

std::atomic<int> g_ticks{0};
std::mutex g_threadsMutex;
std::set<std::thread::id> g_tickThreads;

char Tick(char**, const char* word, CQoLanguage* qo) {
    if (!*word) return 0;
    ++g_ticks;
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        g_tickThreads.insert(std::this_thread::get_id());
    }
    qo->SetValueType('N', nullptr);
    qo->m_dValue = 1;
    return 1;
}

TEST_F(TimersTest, ThreadTimersRunOnTheirOwnThread) {
    ASSERT_EQ(ruqo_UserQolExecutor("tick", '+', (intptr_t)&Tick), (intptr_t)&Tick);
    LogCapture log(0x40);
    // Counted runs end the thread; no pumping needed.
    EXPECT_EQ(RunAndResult(qo, "timeropen(7, 3, 20, 3, 'tick();')"), "N:7");
    ASSERT_TRUE(WaitUntil([] { return !TimerIsOpen(7) && RunningTimerThreads() == 0; }));
    EXPECT_EQ(g_ticks.load(), 3);
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        ASSERT_EQ(g_tickThreads.size(), 1u);
        EXPECT_NE(*g_tickThreads.begin(), std::this_thread::get_id());
    }
    // An unlimited one ends on timerclose; a long period is cut short.
    EXPECT_EQ(RunAndResult(qo, "timeropen(10, 3, 100000, 0, 'tick();')"), "N:10");
    ASSERT_TRUE(WaitUntil([] { return RunningTimerThreads() == 1; }));
    EXPECT_EQ(RunAndResult(qo, "timerclose(10)"), "N:10");
    ASSERT_TRUE(WaitUntil([] { return RunningTimerThreads() == 0; }));
    EXPECT_EQ(g_ticks.load(), 3);
    const auto messages = log.Messages();
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages[0].rfind("开启QOL延时器 7（", 0), 0u) << qotool::test::Readable(messages[0]);
    EXPECT_EQ(Gbk(messages[1]), Gbk("关闭QOL延时器 7"));
    EXPECT_EQ(messages[2].rfind("结束QOL延时器 7（", 0), 0u) << qotool::test::Readable(messages[2]);
    EXPECT_NE(messages[2].find("）线程"), std::string::npos);
    ruqo_UserQolExecutor("tick", '-', 0);
}

TEST(MessageQueueTest, TheQueueFdIsReadableWhileATimerIsDue) {
    const int fd = ruqo_GetMessageFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ruqo_GetMessageFd(), fd);
    ruqo_PumpMessages(5);  // the library's one-shot start timer
    EXPECT_EQ(ruqo_PumpMessages(0), 0);
    CQoLanguage qo;
    RunAndResult(qo, "system_fd=0; timeropen(11, 0, 10, 1, 'system_fd=1;')");
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    EXPECT_EQ(ruqo_PumpMessages(0), 1);
    EXPECT_EQ(RunAndResult(qo, "system_fd"), "N:1");
    // Another thread has a queue of its own.
    int other = -1;
    std::thread([&] { other = ruqo_GetMessageFd(); }).join();
    EXPECT_GE(other, 0);
    EXPECT_NE(other, fd);
}

}  // namespace
