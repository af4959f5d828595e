// Level guards: the nesting level of an interpreter and the process-wide
// stack of run contexts that have open guards.
#include <vector>

#include "diag/debug_hooks.h"
#include "engine/run_context.h"

namespace qotool::engine {

namespace {

struct GuardEntry {
    QoLRunContext* run;
    int counter;
};

std::vector<GuardEntry>* g_guardStack = nullptr;

std::vector<GuardEntry>& GuardStack() {
    if (!g_guardStack) g_guardStack = new std::vector<GuardEntry>();
    return *g_guardStack;
}

}  // namespace

QoLRunContext* g_guardTop = nullptr;
int g_guardCounter = 0;

int OpenGuardCount() { return g_guardCounter; }

int EntryStackSize() { return g_guardStack ? (int)g_guardStack->size() : 0; }

QoLRunContext* EntryStackAt(int index) {
    if (!g_guardStack || index < 0 || index >= (int)g_guardStack->size()) return nullptr;
    return (*g_guardStack)[(size_t)index].run;
}

void LevelGuard::Enter(char kind, const char* position) {
    CQoLanguage* qo = qo_;
    QoLRunContext* run = qo->m_pRun;
    ++g_guardCounter;
    auto& stack = GuardStack();
    if (stack.empty() || stack.back().run != run) {
        stack.push_back({run, g_guardCounter});
        g_guardTop = run;
    }
    savedLevel_ = run->level;
    entered_ = true;
    if (savedLevel_ == 0) {
        qotool::diag::g_debugSwitch &= 1;
        run->level = 1;
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
    --g_guardCounter;
    auto& stack = GuardStack();
    // The pair goes when the guard that pushed it is left.
    if (!stack.empty() && g_guardCounter < stack.back().counter) {
        stack.pop_back();
        g_guardTop = stack.empty() ? nullptr : stack.back().run;
    }
    run->level = savedLevel_;
    if (savedLevel_ == 0) {
        // The texts of the finished run may be gone: no position refers to them.
        for (auto& start : run->levelStart) start = nullptr;
        int depth = 0;
        if (qotool::diag::DebuggerWindowExists(&depth) && (int)stack.size() < depth) {
            qotool::diag::Trace(run, nullptr, "E退出");
            qotool::diag::RefreshDebugger();
        }
    }
}

}  // namespace qotool::engine
