// Level guards: the nesting level of an interpreter and the stack of run
// contexts that have open guards, one stack per thread.
#include <vector>

#include "engine/debugger_seam.h"
#include "engine/run_context.h"

namespace qotool::engine {

namespace {

struct GuardEntry {
    QoLRunContext* run;
    int counter;
};

// The entry stack exists only while it has entries, so a thread that ends
// between runs leaves nothing behind. t_topCounter is the counter of its top
// entry (0 when empty; counters start at 1), for the one test Leave needs.
thread_local std::vector<GuardEntry>* t_guardStack QOTOOL_FAST_TLS = nullptr;
thread_local int t_topCounter QOTOOL_FAST_TLS = 0;

std::vector<GuardEntry>& GuardStack() {
    if (!t_guardStack) t_guardStack = new std::vector<GuardEntry>();
    return *t_guardStack;
}

}  // namespace

thread_local QoLRunContext* t_guardTop QOTOOL_FAST_TLS = nullptr;
thread_local int t_guardCounter QOTOOL_FAST_TLS = 0;

int OpenGuardCount() { return t_guardCounter; }

int EntryStackSize() { return t_guardStack ? (int)t_guardStack->size() : 0; }

QoLRunContext* EntryStackAt(int index) {
    if (!t_guardStack || index < 0 || index >= (int)t_guardStack->size()) return nullptr;
    return (*t_guardStack)[(size_t)index].run;
}

void LevelGuard::Enter(char kind, const char* position) {
    CQoLanguage* qo = qo_;
    QoLRunContext* run = qo->m_pRun;
    ++t_guardCounter;
    if (t_guardTop != run) {
        GuardStack().push_back({run, t_guardCounter});
        t_guardTop = run;
        t_topCounter = t_guardCounter;
    }
    savedLevel_ = run->level;
    entered_ = true;
    if (savedLevel_ == 0) {
        // Written only when there is something to clear: the switch is
        // process-wide and runs on other threads read it.
        if (qotool::diag::g_debugSwitch & ~1) qotool::diag::g_debugSwitch &= 1;
        run->level = 1;
        run->outerRuns.fetch_add(1, std::memory_order_acq_rel);
        run->SetLevelStart(0, position);
        run->SetLevelStart(1, position);
        if (!(position == nullptr && qo->m_cType == 'X')) qo->m_strError.Empty();
        return;
    }
    if (savedLevel_ > 200) {
        try {
            qo->ReportError("嵌套执行太深", position);
        } catch (...) {
            Leave();
            throw;
        }
    }
    short level = (short)(savedLevel_ + (kind == '+' ? 1 : 2));
    run->level = level;
    run->SetLevelStart(level, position);
    if (kind != '+') run->SetLevelStart(level - 1, position);
}

void LevelGuard::Leave() {
    entered_ = false;
    QoLRunContext* run = qo_->m_pRun;
    --t_guardCounter;
    // The pair goes when the guard that pushed it is left.
    if (t_guardCounter < t_topCounter) {
        auto& stack = *t_guardStack;
        stack.pop_back();
        if (stack.empty()) {
            delete t_guardStack;
            t_guardStack = nullptr;
            t_guardTop = nullptr;
            t_topCounter = 0;
        } else {
            t_guardTop = stack.back().run;
            t_topCounter = stack.back().counter;
        }
    }
    run->level = savedLevel_;
    if (savedLevel_ == 0) {
        run->outerRuns.fetch_sub(1, std::memory_order_acq_rel);
        // The texts of the finished run may be gone: no position refers to them.
        for (auto& start : run->levelStart) start = nullptr;
        int depth = 0;
        if (qotool::diag::DebuggerWindowExists(&depth) && EntryStackSize() < depth) {
            qotool::diag::Trace(run, nullptr, "E退出");
            qotool::diag::RefreshDebugger();
        }
    }
}

}  // namespace qotool::engine
