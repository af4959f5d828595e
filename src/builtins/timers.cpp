// timeropen and timerclose: the 16 slots, queue timers (modes 0 and 1) and
// thread timers (mode 3).
#include "builtins/timers.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "builtins/args.h"
#include "engine/instance.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::builtins {

namespace {

constexpr int kTimerCount = 16;
constexpr int kMinimumPeriod = 10;
constexpr uint8_t kIndependent = 0x01;  // a fresh interpreter per run
constexpr uint8_t kBackground = 0x02;   // a thread of its own
constexpr uint32_t kQuitMessage = 18;
constexpr int kLogMainResult = 4;
constexpr auto kThreadStopWait = std::chrono::seconds(5);

const char kBadNumber[] = "计时器编号只能是1~";
const char kBadPeriod[] = "计时器计时不能低于10毫秒";
const char kEmptyStatement[] = "计时器响应语句不能为空";
const char kModeTwoAlone[] = "计时器选择后台并行执行模式2必须同时选取独立运行模式1,即复合模式3";
const char kTimerOpened[] = "开启QOL定时器 %d（%d）";
const char kTimerClosed[] = "关闭QOL%s器 %d";
const char kDelayWord[] = "延时";
const char kTimingWord[] = "定时";
const char kAllClosed[] = "全部QOL定时器和延时器被关闭，关闭个数为";
const char kThreadStarted[] = "开启QOL延时器 %d（%d）";
const char kThreadEnded[] = "结束QOL延时器 %d（%d）线程";
const char kRunError[] = "%d号定时器因运行错误而被关闭";
const char kEventFailed[] = "QOL计时器事件响应不正常";
const char kErrorOutputOff[] = "set('error output off');";
const char kErrorOutputOn[] = "set('error output on');";

struct Slot {
    uint64_t handle = 0;  // queue timer id, or the thread's queue once it runs
    int runsLeft = 0;     // 0: unlimited
    int period = 0;
    uint8_t mode = 0;
    CQoLanguage* qo = nullptr;  // the opening interpreter (compared, never followed blindly)
    uint64_t serial = 0;        // its serial in the instance registry
    CString statement;
    uint64_t generation = 0;  // tells a reopened timer from the one a thread served
};

// The timers' state is never destroyed: the library's detach closes the
// timers at exit, which may come after the static destructors have run (a
// program that links the library in).
struct TimerState {
    std::mutex mutex;
    Slot slots[kTimerCount];
    std::mutex threadsMutex;
    std::condition_variable threadsDone;
};
TimerState& State() {
    static TimerState* state = new TimerState();
    return *state;
}

std::mutex& g_mutex = State().mutex;
uint32_t g_active = 0;  // bit n-1: timer n is open
Slot (&g_slots)[kTimerCount] = State().slots;
uint64_t g_lastGeneration = 0;

std::mutex& g_threadsMutex = State().threadsMutex;
std::condition_variable& g_threadsDone = State().threadsDone;
int g_threads = 0;

// Log lines wait until the lock is released (a box may pump messages).
using Lines = std::vector<std::string>;

std::string Text(const char* format, int a, int b) {
    char buf[256];
    snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

void Log(const Lines& lines) {
    for (const std::string& line : lines) ruqo_MessageLog(0, kLogMainResult, line.c_str(), "", "");
}

bool IsOpenLocked(int n) { return n >= 1 && n <= kTimerCount && (g_active & (1u << (n - 1))); }

bool CloseLocked(int n, Lines& log) {
    if (!IsOpenLocked(n)) return false;
    Slot& slot = g_slots[n - 1];
    const bool thread = slot.mode & kBackground;
    if (thread) {
        if (slot.handle) platform::PostThreadMessage(slot.handle, kQuitMessage, (uintptr_t)n);
    } else {
        platform::KillThreadTimer(slot.handle);
    }
    slot.statement.Empty();
    g_active &= ~(1u << (n - 1));
    char buf[128];
    snprintf(buf, sizeof buf, kTimerClosed, thread ? kDelayWord : kTimingWord, n);
    log.push_back(buf);
    return true;
}

// One run of timer n (of the generation given); returns n, or 0 when the
// timer is gone or was closed during this run.
int RunEvent(int n, uint64_t generation) {
    CString statement;
    CQoLanguage* opener = nullptr;
    bool independent = false;
    Lines log;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!IsOpenLocked(n) || g_slots[n - 1].generation != generation) return 0;
        Slot& slot = g_slots[n - 1];
        independent = slot.mode & kIndependent;
        if (!independent) {
            if (engine::InterpreterSerial(slot.qo) != slot.serial) return 0;
            opener = slot.qo;
        }
        statement = slot.statement;
        if (slot.runsLeft > 1)
            --slot.runsLeft;
        else if (slot.runsLeft == 1)
            CloseLocked(n, log);
    }
    Log(log);
    log.clear();
    std::unique_ptr<CQoLanguage> fresh;
    try {
        if (independent) fresh = std::make_unique<CQoLanguage>();
        CQoLanguage* qo = independent ? fresh.get() : opener;
        const bool outputWasOn = qo->GetQolState(2) != 0;
        if (outputWasOn) qo->DoQol(kErrorOutputOff, nullptr);
        qo->DoQol(statement.c_str(), nullptr);
        if (qo->m_cType == 'X') {
            const CString error = qo->m_strError;
            {
                std::lock_guard<std::mutex> lock(g_mutex);
                if (g_slots[n - 1].generation == generation) CloseLocked(n, log);
            }
            Log(log);
            char title[64];
            snprintf(title, sizeof title, kRunError, n);
            ruqo_MessageLog(0, 1, title, error.c_str(), "");
            return 0;
        }
        if (!independent && outputWasOn) qo->DoQol(kErrorOutputOn, nullptr);
    } catch (...) {
        ruqo_MessageLog(0, 2, kEventFailed, "", "");
    }
    fresh.reset();
    std::lock_guard<std::mutex> lock(g_mutex);
    return IsOpenLocked(n) && g_slots[n - 1].generation == generation ? n : 0;
}

// The queue timer callback: the open timer that holds the identifier.
void OnQueueTimer(uint64_t id) {
    int n = 0;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (int i = 1; i <= kTimerCount && !n; ++i) {
            const Slot& slot = g_slots[i - 1];
            if (IsOpenLocked(i) && !(slot.mode & kBackground) && slot.handle == id) {
                n = i;
                generation = slot.generation;
            }
        }
    }
    if (n) RunEvent(n, generation);
}

void ThreadLoop(int n, uint64_t generation) {
    sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    const platform::QueueId queue = platform::ThreadQueue();
    int period = 0;
    bool open = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (IsOpenLocked(n) && g_slots[n - 1].generation == generation) {
            g_slots[n - 1].handle = queue;
            period = g_slots[n - 1].period;
            open = true;
        }
    }
    if (open) {
        Log({Text(kThreadStarted, n, (int)queue)});
        for (;;) {
            const int64_t deadline = platform::MonotonicMillis() + period;
            for (int64_t left; (left = deadline - platform::MonotonicMillis()) > 0;) {
                if (platform::WaitForPostedMessage((int)left) && platform::PeekThreadMessage(kQuitMessage, true)) break;
            }
            if (!RunEvent(n, generation)) break;
        }
        Log({Text(kThreadEnded, n, (int)queue)});
    }
    std::lock_guard<std::mutex> lock(g_threadsMutex);
    --g_threads;
    g_threadsDone.notify_all();
}

void Open(CQoLanguage* qo, int n, uint8_t mode, int period, int runs, const CString& statement) {
    Lines log;
    bool startThread = false;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        CloseLocked(n, log);
        Slot& slot = g_slots[n - 1];
        g_active |= 1u << (n - 1);
        slot.runsLeft = runs;
        slot.qo = qo;
        slot.serial = engine::InterpreterSerial(qo);
        slot.period = period;
        slot.mode = mode;
        slot.statement = statement;
        slot.handle = 0;
        slot.generation = generation = ++g_lastGeneration;
        if (mode & kBackground) {
            startThread = true;
        } else {
            slot.handle = platform::SetThreadTimer(period, &OnQueueTimer);
            log.push_back(Text(kTimerOpened, n, (int)slot.handle));
        }
    }
    if (startThread) {
        {
            std::lock_guard<std::mutex> lock(g_threadsMutex);
            ++g_threads;
        }
        try {
            std::thread(ThreadLoop, n, generation).detach();
        } catch (...) {
            std::lock_guard<std::mutex> lock(g_threadsMutex);
            --g_threads;
        }
    }
    Log(log);
}

void TimerOpen(CQoLanguage* qo, char*& cursor) {
    uint8_t number = 0, mode = 0;
    int32_t period = 0, runs = 0;
    CString statement;
    qo->ReadPara('N', cursor, "%1%1%4%4%s", &number, &mode, &period, &runs, &statement, nullptr);
    if (qo->m_cType == 'X') return;
    // A syntax check knows the arguments' types only: it opens nothing.
    if (qo->m_bSyntaxCheck) return SetNumber(qo, number);
    if (number < 1 || number > kTimerCount) {
        const std::string message = kBadNumber + std::to_string(kTimerCount);
        return qo->ReportError(message.c_str(), cursor);
    }
    if (period < kMinimumPeriod) return qo->ReportError(kBadPeriod, cursor);
    if (statement.IsEmpty()) return qo->ReportError(kEmptyStatement, cursor);
    if ((mode & kBackground) && !(mode & kIndependent)) return qo->ReportError(kModeTwoAlone, cursor);
    Open(qo, number, mode, period, runs, statement);
    SetNumber(qo, number);
}

void TimerClose(CQoLanguage* qo, char*& cursor) {
    uint8_t number = 0;
    qo->ReadPara('N', cursor, "%1", &number, nullptr);
    if (qo->m_cType == 'X') return;
    if (qo->m_bSyntaxCheck) return SetNumber(qo, 0);
    Lines log;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (number == 0) {
            for (int n = 1; n <= kTimerCount; ++n) result += CloseLocked(n, log) ? 1 : 0;
            log.push_back(kAllClosed + std::to_string(result));
        } else {
            result = CloseLocked(number, log) ? number : 0;
        }
    }
    Log(log);
    SetNumber(qo, result);
}

}  // namespace

Dispatched Timers(CQoLanguage* qo, char*& cursor, const char* word) {
    if (Is(word, "timeropen")) return TimerOpen(qo, cursor), Dispatched::Value;
    if (Is(word, "timerclose")) return TimerClose(qo, cursor), Dispatched::Value;
    return Dispatched::None;
}

void StopAllTimers() {
    {
        Lines ignored;
        std::lock_guard<std::mutex> lock(g_mutex);
        for (int n = 1; n <= kTimerCount; ++n) CloseLocked(n, ignored);
    }
    std::unique_lock<std::mutex> lock(g_threadsMutex);
    g_threadsDone.wait_for(lock, kThreadStopWait, [] { return g_threads == 0; });
}

bool TimerIsOpen(int n) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return IsOpenLocked(n);
}

int RunningTimerThreads() {
    std::lock_guard<std::mutex> lock(g_threadsMutex);
    return g_threads;
}

}  // namespace qotool::builtins

extern "C" QO_API int ruqo_PumpMessages(int timeoutMs) {
    try {
        return qotool::platform::PumpThreadMessages(timeoutMs);
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API int ruqo_GetMessageFd(void) { return qotool::platform::ThreadMessageFd(); }
