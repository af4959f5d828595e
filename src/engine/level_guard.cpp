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

int g_guardCounter = 0;
std::vector<GuardEntry>& GuardStack() {
    static std::vector<GuardEntry>* stack = new std::vector<GuardEntry>();
    return *stack;
}

}  // namespace

int OpenGuardCount() { return g_guardCounter; }

LevelGuard::LevelGuard(CQoLanguage* qo, char kind, const char* position) : qo_(qo) {
    QoLRunContext* run = qo->m_pRun;
    ++g_guardCounter;
    auto& stack = GuardStack();
    if (stack.empty() || stack.back().run != run) stack.push_back({run, g_guardCounter});
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
    if (!entered_) return;
    entered_ = false;
    QoLRunContext* run = qo_->m_pRun;
    --g_guardCounter;
    auto& stack = GuardStack();
    // The pair goes when the guard that pushed it is left.
    if (!stack.empty() && g_guardCounter < stack.back().counter) stack.pop_back();
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

LevelGuard::~LevelGuard() { Leave(); }

}  // namespace qotool::engine
