// Per-interpreter run state, the level guards and the error unwind.
#ifndef QOTOOL_ENGINE_RUN_CONTEXT_H
#define QOTOOL_ENGINE_RUN_CONTEXT_H

#include <atomic>
#include <memory>
#include <vector>

#include "engine/debugger_seam.h"
#include "qotool/cstring.h"
#include "qotool/qolanguage.h"

class QoLVarDefine;

namespace qotool::engine {
class CompiledForms;
struct CompiledFormsDeleter {
    void operator()(CompiledForms* forms) const;
};
class HostFunctions;
struct HostFunctionsDeleter {
    void operator()(HostFunctions* functions) const;
};
}  // namespace qotool::engine

// One by-reference argument of ReadPara: the code it was read with ('1',
// '2', '4', 'b', 'f', 'g', 'p'; 'S' for a CString destination, 's' for a
// character buffer), the variable's record and the destination.
struct QoLWriteBack {
    char code;
    QoLVarDefine* record;
    void* destination;
};

class QoLRunContext {
public:
    explicit QoLRunContext(CQoLanguage* owner) : owner(owner) {}

    // Reads a word at the cursor into word (at least 129 bytes + room for
    // the last piece: kWordBufferSize). Returns the word flags: bit 1 plain
    // characters, bit 2 a %[...] macro piece; 0 after an error report.
    int ReadWord(char*& cursor, char* word);

    CQoLanguage* owner;
    CString callName;             // name used by user function calls
    unsigned char traceFlags = 0; // 8: errors carry no position text
    CString undefinedNames;       // names found undefined while debugging
    CString checkModeText;        // mode number of the syntax check
    short level = 0;              // nesting level, 0 when idle
    // Outermost runs in progress (level left 0): the one field another
    // thread may read while the interpreter runs (ruqo_FreeInterp does).
    std::atomic<int> outerRuns{0};
    std::vector<const char*> levelStart;  // first character of each level's text
    char* statementStart = nullptr;
    unsigned short checkLevel = 0;  // scope level + 1 of the active syntax check
    short catchDepth = 0;
    // The catch depth of a try whose body's sentence is being entered: a
    // compiled form run for that sentence at that depth, with nothing in
    // between, returns an error it meets as the value instead of unwinding
    // to the try. -1 when there is none.
    short quietCatchDepth = -1;
    short bracketDepth = 0;
    CString currentFile;
    // Pending goto: kind character ('#' label, '&' level) and label text
    // ("#name:"), the target level of a level goto, and the cursor of the goto.
    CString gotoLabel;
    short gotoLevel = 0;
    char* gotoCursor = nullptr;
    CString tableBufferName;
    // By-reference arguments that WritePara copies back, in argument order.
    std::vector<QoLWriteBack> writeBack;
    // A compiled form waits to learn what takes a word called like a
    // function (compiled_form.h).
    bool callWordsAsked = false;
    // The sentences read once, by position (compiled_form.h).
    std::unique_ptr<qotool::engine::CompiledForms, qotool::engine::CompiledFormsDeleter> compiledForms;
    // The functions the host registered on this interpreter (host_words.h);
    // null until the first registration.
    std::unique_ptr<qotool::engine::HostFunctions, qotool::engine::HostFunctionsDeleter> hostFunctions;

    void SetLevelStart(int lv, const char* position) {
        if ((size_t)lv >= levelStart.size()) levelStart.resize((size_t)lv + 1, nullptr);
        levelStart[(size_t)lv] = position;
    }
};

namespace qotool::engine {

constexpr int kWordBufferSize = 128 + 81 + 8;

// QolUnwind, what the error unwind throws, is in debugger_seam.h.

// Raises the catch depth for its lifetime.
class CatchScope {
public:
    explicit CatchScope(QoLRunContext* run) : run_(run) { ++run_->catchDepth; }
    ~CatchScope() { --run_->catchDepth; }
    CatchScope(const CatchScope&) = delete;
    CatchScope& operator=(const CatchScope&) = delete;

private:
    QoLRunContext* run_;
};

// A level guard: every run entry point encloses its work in one. Kind '+'
// (a block) raises the nesting level by 1, every other kind by 2. Entering
// above level 200 is the error "嵌套执行太深".
// The top of this thread's guard stack and its open guard count (the fast
// path of LevelGuard reads them). Per thread, since interpreters may run on
// several threads at once; initial-exec keeps each access one load. Not in
// sanitizer builds: there the null check of the address tests the flags of
// an `add` that the linker relaxes to a `lea`, and reports a null pointer
// when stale flags say zero.
#if defined(__SANITIZE_ADDRESS__)
#define QOTOOL_FAST_TLS
#else
#define QOTOOL_FAST_TLS __attribute__((tls_model("initial-exec")))
#endif
extern thread_local QoLRunContext* t_guardTop QOTOOL_FAST_TLS;
extern thread_local int t_guardCounter QOTOOL_FAST_TLS;

class LevelGuard {
public:
    LevelGuard(CQoLanguage* qo, char kind, const char* position) : qo_(qo) {
        QoLRunContext* run = qo->m_pRun;
        const short level = run->level;
        if (level > 0 && level <= 200 && t_guardTop == run) {
            // Nested guard of the interpreter that is already running.
            ++t_guardCounter;
            savedLevel_ = level;
            entered_ = true;
            const short next = (short)(level + (kind == '+' ? 1 : 2));
            run->level = next;
            run->SetLevelStart(next, position);
            if (kind != '+') run->SetLevelStart(next - 1, position);
            return;
        }
        Enter(kind, position);
    }
    ~LevelGuard() {
        if (entered_) Leave();
    }
    LevelGuard(const LevelGuard&) = delete;
    LevelGuard& operator=(const LevelGuard&) = delete;

private:
    void Enter(char kind, const char* position);
    void Leave();
    CQoLanguage* qo_;
    short savedLevel_ = 0;
    bool entered_ = false;
};

// This thread's entry stack (EntryStackSize, EntryStackAt) is in
// debugger_seam.h.

// This thread's count of open level guards.
int OpenGuardCount();

}  // namespace qotool::engine

#endif
