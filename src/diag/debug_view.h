// The debugger's view: what a person sees of a paused run and the one
// command they answer. The core (debugger.h) computes every text (title,
// level rows, variables pane, source pane with its markers, watch results)
// and hands a snapshot to the view; the view only shows it and returns a
// command. Without a view the debugger window cannot open: trace events are
// dropped (the headless default).
//
// Views: the adapter over the C table of qotool/debug_view.h (hosts and the
// qol terminal debugger) and the scripted double of the tests.
#ifndef QOTOOL_DIAG_DEBUG_VIEW_H
#define QOTOOL_DIAG_DEBUG_VIEW_H

#include <string>
#include <vector>

namespace qotool::diag {

// The debug level radio group "调试级别".
enum class DebugLevel : int { kBlock = 0, kSentence = 1, kStep = 2 };  // "逐段", "逐句", "逐步"

// The persisted settings of the window (QolDebug.ini, section "QOL调试器").
struct DebugSettings {
    DebugLevel level = DebugLevel::kSentence;
    bool entry = true;   // 13023 "入口": pause at "(" and "{"
    bool exit = true;    // 13024 "出口": pause at ")" and "}"
    bool lower = true;   // 13051 "下层": pause inside lower-level texts
    bool live = true;    // 13033 "实时观测"
    bool wide = false;   // 13047 "╣"
    std::string condition;       // 13026
    std::string interval = "200";  // 13027, milliseconds
    std::string watch[3];        // 13032, 13036, 13038
    // "尺寸位置": "%d,%d,%d,%d" or "*" (maximized); absent: hasRect false.
    bool maximized = false;
    bool hasRect = false;
    int left = 0, top = 0, width = 0, height = 0;
};

// One row of the level list (columns "深度", "断点", "类型", "赋变量",
// "结果值", "位置").
struct DebugLevelRow {
    std::string depth, label, type, assigned, value, position;
};

struct DebugSnapshot {
    std::string title;
    std::string event;  // the whole event label, e.g. "B断点"
    bool stop = false;  // a stop (else a progress refresh of a filtered event)
    int level = 0;      // current level (0 the outermost run)
    int debuggerLevel = 0;
    // The place of the position as the error reports name it: the file
    // ("" when the run reads none), line and column (from 1) in the listing
    // (see SourcePlace); for a text the run made, the line in that text and
    // column 0; line 0 when there is no position.
    std::string file;
    int line = 0;
    int column = 0;
    std::string sentence;     // the source line at the position, from the position on
    std::vector<DebugLevelRow> rows;
    int currentRow = -1;
    std::string variables;    // the variables pane (13050)
    std::string source;       // the source pane (13031)
    bool sourceReadOnly = false;  // the run is above the debugger level
    size_t selectionStart = 0, selectionEnd = 0;  // the selected marker in source
    // The listing the selected level's position lies in, and its offset
    // there (-1 and an empty listing when it lies in none).
    std::string listing;
    long listingOffset = -1;
    int selectedLevel = 0;
    std::string watchResult[3];
    std::string evalExpression, evalResult;  // 13043, 13045
    // The answer of the last value or eval command, to show at once
    // (caption "结果值" for a value, "运算" for an evaluation).
    std::string answerCaption, answer;
    std::string answerDetail;  // why that evaluation failed: the error message, "" otherwise
    // Push-like buttons.
    bool fast = false, terminate = false, until = false, pace = false;
    DebugSettings settings;
};

enum class DebugCommandKind : int {
    kNone = 0,   // the wait's deadline passed
    kStep,       // "单步" / F5
    kFast,       // "快进"
    kClose,      // "关闭"
    kTerminate,  // "终止"
    kUntil,      // "至条件" with text as the condition (empty: keep the field)
    kPace,       // "间隔ms" with number as the interval (0 or less: keep the field)
    kEval,       // "运算" of text
    kWatch,      // watch number (0-2) becomes text
    kLive,       // toggles "实时观测"
    kRefresh,    // "立即刷新"
    kLevel,      // number: 0 per block, 1 per sentence, 2 per step
    kEntry,      // toggles "入口"
    kExit,       // toggles "出口"
    kLower,      // toggles "下层"
    kRunTo,      // F6 with the caret at offset number of the source pane
    kRunToLine,  // run to line number (from 1) of the current level's text
    kUp,         // F8
    kDown,       // F9
    kVars,       // "查看变量": the variable browser
    kWide,       // toggles "╣"
    kValue,      // the full value: of the current row (empty text) or of an expression
    kViewHost,   // "查看平台"
};

struct DebugCommand {
    DebugCommandKind kind = DebugCommandKind::kNone;
    int number = 0;
    std::string text;  // GBK
};

class DebugView {
public:
    virtual ~DebugView() = default;
    // The window opens (first shown event) or closes.
    virtual void Open(const DebugSnapshot& snapshot) { (void)snapshot; }
    virtual void Close() {}
    // Shows the snapshot and returns one command. waitMs < 0: wait for a
    // command; otherwise return kNone when waitMs milliseconds pass first
    // (0: show and return at once).
    virtual DebugCommand Wait(const DebugSnapshot& snapshot, int waitMs) = 0;
};

// Installs the view (not owned); null removes it. Returns the previous one.
DebugView* SetDebugView(DebugView* view);
DebugView* InstalledDebugView();

}  // namespace qotool::diag

#endif
