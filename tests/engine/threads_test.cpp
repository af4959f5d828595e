// Interpreters on several threads at once: each thread runs its own
// interpreter while all of them share the process-wide tables (registry,
// system_ store, user executors, level guards, result texts). Runs under
// ThreadSanitizer with -DQOTOOL_TSAN=ON.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/instance.h"
#include "engine/run_context.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "qotool/textutil.h"
#include "support/result_text.h"

namespace {

using qotool::test::ResultOf;

char Twice(char** cursor, const char* word, CQoLanguage* qo) {
    if (std::string(word) != "twice") return 0;
    qo->DoSentence(*cursor, ")", 'N', ')');
    qo->m_dValue *= 2;
    return 1;
}

char Never(char**, const char*, CQoLanguage*) { return 0; }

// Every run raises errors inside try/catch, calls a user executor, writes
// the shared system_ store and matches a pattern.
constexpr const char kScript[] =
    "n=0; for(i=1;i<=5;i=i+1){ try { n = n + i/(i-i); } catch(e) n = n + i; }"
    "system_shared = n; n + twice(1) + 0*system_shared";

TEST(ThreadsTest, EightInterpretersOnEightThreadsKeepTheirOwnResults) {
    ASSERT_EQ(ruqo_UserQolExecutor("twice", '+', (intptr_t)&Twice), (intptr_t)&Twice);
    constexpr int kThreads = 8, kRuns = 2000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            CQoLanguage qo;
            const std::string slot = "[" + std::to_string(t) + "]";
            for (int run = 0; run < kRuns; ++run) {
                qo.DoQol(kScript, nullptr);
                if (ResultOf(qo) != "N:17") ++wrong;
                if (run % 50 != 0) continue;
                // Less frequent: the numbered interpreter of this thread
                // through the C entry point, a short-lived interpreter,
                // executor table changes and the matcher.
                const std::string text = slot + "twice(" + std::to_string(run) + ")";
                if (std::string(ruqo_ExecQol(text.c_str())) != "N:" + std::to_string(2 * run)) ++wrong;
                auto temporary = std::make_unique<CQoLanguage>();
                temporary->DoQol("try 1/0; catch; 'ok'", nullptr);
                if (ResultOf(*temporary) != "S:ok") ++wrong;
                const std::string name = "never" + std::to_string(t);
                ruqo_UserQolExecutor(name.c_str(), '+', (intptr_t)&Never);
                ruqo_UserQolExecutor(name.c_str(), '-', 0);
                if (ruqo_StrMatch("a*c", "abbbc", 1) != 5) ++wrong;
                ruqo_StrMatch("", "x", 0);
            }
            if (qo.m_pRun->level != 0 || qo.m_pRun->catchDepth != 0) ++wrong;
        });
    }
    for (std::thread& thread : threads) thread.join();
    ruqo_UserQolExecutor("twice", '-', 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(qotool::engine::OpenGuardCount(), 0);
}

// hold(n): marks the run as holding and waits until the test releases it.
std::atomic<int> g_hold{0};  // 1: a run holds, 2: released
char Hold(char** cursor, const char* word, CQoLanguage* qo) {
    if (std::string(word) != "hold") return 0;
    qo->DoSentence(*cursor, ")", 'N', ')');
    g_hold = 1;
    while (g_hold != 2) std::this_thread::yield();
    return 1;
}

// ruqo_FreeInterp refuses an interpreter that runs on another thread, and
// its check races with nothing the run writes.
TEST(ThreadsTest, AnInterpreterRunningOnAnotherThreadIsNotFreed) {
    ASSERT_EQ(ruqo_UserQolExecutor("hold", '+', (intptr_t)&Hold), (intptr_t)&Hold);
    QoInterp* interp = ruqo_CreateInterp();
    ASSERT_NE(interp, nullptr);
    g_hold = 0;
    std::thread runner([interp] { ruqo_Eval(interp, "hold(1)", -1, nullptr); });
    while (g_hold != 1) std::this_thread::yield();
    EXPECT_EQ(ruqo_FreeInterp(interp), QO_MISUSE);
    g_hold = 2;
    runner.join();
    EXPECT_EQ(ruqo_FreeInterp(interp), QO_OK);
    ruqo_UserQolExecutor("hold", '-', 0);
}

TEST(ThreadsTest, SerialNumbersTellAReusedAddressFromTheInterpreterThatWasThere) {
    using qotool::engine::InterpreterSerial;
    using qotool::engine::IsLiveInterpreter;
    auto first = std::make_unique<CQoLanguage>();
    // Kept as a number: it is never dereferenced, only compared.
    volatile uintptr_t number = (uintptr_t)first.get();
    const auto address = [&number] { return reinterpret_cast<const CQoLanguage*>(number); };
    const uint64_t serial = InterpreterSerial(address());
    ASSERT_NE(serial, 0u);
    EXPECT_TRUE(IsLiveInterpreter(address(), serial));
    EXPECT_FALSE(IsLiveInterpreter(address(), serial + 1));
    first.reset();
    EXPECT_FALSE(IsLiveInterpreter(address(), serial));
    EXPECT_EQ(InterpreterSerial(address()), 0u);
    // The allocator usually hands the same block out again.
    auto second = std::make_unique<CQoLanguage>();
    EXPECT_GT(InterpreterSerial(second.get()), serial);
    EXPECT_FALSE(IsLiveInterpreter(address(), serial));
}

}  // namespace
