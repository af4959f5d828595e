#include "diag/debugger.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/debug_panes.h"
#include "engine/debugger_seam.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "qotool/qolanguage.h"

namespace qotool::diag {

unsigned char g_debugSwitch = 0;
bool g_pauseKeyWatch = false;
volatile unsigned char g_interruptRequest = 0;

const char kTerminatedMessage[] = "QOL程序运行被调试器强制终止";
const char kBrowseTitle[] = "QOL变量值浏览   （双击网格中结构性数据可显示细节）";

namespace {

const char kTitleFirst[] =
    "QOL调试器             (快捷键：F5=手动行进  F6=行进至光标  F7=执行选择区 F8/F9=定位至上层/下层) ";
// The address is written in full (64-bit) as a decimal number.
const char kTitleFormat[] =
    "QOL调试器(第%d级%llu)  快捷键：F5=手动行进  F6=行进至光标  F7=执行选择区 F8/F9=定位至上层/下层";
const char kValueCaption[] = "结果值";
const char kEvalCaption[] = "运算";
const char kGotoLabel[] = "跳转";
const char kErrorMark[] = "★★★★";
const char kCheckMark[] = "☆☆☆☆";

// Virtual-key codes of Alt and Pause.
constexpr int kVkMenu = 18;
constexpr int kVkPause = 19;
constexpr int kRefreshMs = 1000;

std::atomic<DebugView*> g_view{nullptr};

struct Debugger {
    std::recursive_mutex mutex;
    bool open = false;
    std::thread::id owner;
    int debuggerLevel = 0;
    int recordedDepth = 0;
    CQoLanguage* lastQo = nullptr;
    std::string title;
    DebugSettings settings;
    bool fast = false, terminate = false, until = false, pace = false;
    const char* runToStart = nullptr;
    const char* runToEnd = nullptr;
    int64_t nextRefresh = 0;
    int reentry = 0;
    bool announced = false;   // the view has been told that the window opened
    bool forcePause = false;  // Alt+Pause: the next event stops
    std::vector<DebugLevelRow> rows;
    std::string variables;
    std::string watchResult[3];
    std::string evalExpression, evalResult;
    // The interpreter whose run was terminated, until that run ends.
    CQoLanguage* terminating = nullptr;
    DebugSnapshot snapshot;
    SourcePane pane;
    std::vector<SourceLevel> levels;
    int selected = -1;  // index into levels
};

Debugger& D() {
    static Debugger* d = new Debugger();
    return *d;
}

// Index of run in the process-wide entry stack (its last entry), or the
// top index when it is not there.
int LevelOf(QoLRunContext* run) {
    const int size = engine::EntryStackSize();
    for (int i = size - 1; i >= 0; --i)
        if (engine::EntryStackAt(i) == run) return i;
    return size > 0 ? size - 1 : 0;
}

bool ConditionHolds(CQoLanguage* qo, const std::string& condition) {
    const Evaluation e = EvaluateReadOnly(qo, condition.c_str());
    return e.type == 'N' && e.number != 0;
}

int Interval(const DebugSettings& s) {
    long v = strtol(s.interval.c_str(), nullptr, 10);
    return v < 0 ? 0 : (v > 3600000 ? 3600000 : (int)v);
}

void EvaluateWatches(Debugger& d, CQoLanguage* qo) {
    for (int i = 0; i < 3; ++i) {
        const std::string& text = d.settings.watch[i];
        bool blank = true;
        for (char c : text)
            if (c != ' ' && c != '\t') blank = false;
        d.watchResult[i] = blank ? std::string() : ShownEvaluation(EvaluateReadOnly(qo, text.c_str()));
    }
}

void CloseWindow(Debugger& d) {
    if (!d.open) return;
    d.open = false;
    d.fast = d.terminate = d.until = d.pace = false;
    d.runToStart = d.runToEnd = nullptr;
    d.rows.clear();
    d.lastQo = nullptr;
    SaveDebugSettings(DebugSettingsPath(), d.settings);
    if (DebugView* view = g_view.load()) view->Close();
}

void OpenWindow(Debugger& d, int level) {
    d.settings = LoadDebugSettings(DebugSettingsPath());
    d.open = true;
    d.announced = false;
    d.owner = std::this_thread::get_id();
    d.debuggerLevel = level;
    d.recordedDepth = level + 1;
    d.title = kTitleFirst;
    d.fast = d.terminate = d.until = d.pace = false;
    d.runToStart = d.runToEnd = nullptr;
    d.nextRefresh = 0;
    d.rows.clear();
    d.variables.clear();
    d.evalExpression.clear();
    d.evalResult.clear();
    for (auto& w : d.watchResult) w.clear();
}

// The level rows, the source pane and the selection for an event.
void UpdateDisplay(Debugger& d, QoLRunContext* run, const char* position, const char* event, bool variables) {
    CQoLanguage* qo = engine::RunOwner(run);
    const int size = std::max(engine::EntryStackSize(), 1);
    const int current = LevelOf(run);
    if ((int)d.rows.size() != size) d.rows.resize((size_t)size);
    for (int i = 0; i < size; ++i) {
        char depth[16];
        snprintf(depth, sizeof depth, "%4d", i);
        d.rows[(size_t)i].depth = depth;
    }
    DebugLevelRow& row = d.rows[(size_t)std::min(current, size - 1)];
    row.label = qo->m_cControl == 'g' ? kGotoLabel : event + 1;
    row.type = std::string(1, qo->m_cType);
    row.assigned = event[0] == 'X' ? kErrorMark : event[0] == 'C' ? kCheckMark : std::string(qo->m_strSpare.view());
    row.value = RowValue(qo);
    const char* text = TextHolding(run, position);
    char where[32];
    snprintf(where, sizeof where, "%.8X", text ? (unsigned)(position - text) : 0u);
    row.position = where;

    d.levels.clear();
    for (int i = 0; i < size; ++i) {
        QoLRunContext* r = engine::EntryStackAt(i);
        if (!r) r = run;
        const char* at = r == run ? position : nullptr;
        if (!at) at = engine::LevelText(r, engine::RunLevel(r));
        const char* start = TextHolding(r, at);
        d.levels.push_back({i, start, start ? at : nullptr});
    }
    d.pane = BuildSourcePane(d.levels);
    d.selected = std::min(current, (int)d.levels.size() - 1);
    if (variables) d.variables = VariablesPane(qo);
}

void FillSnapshot(Debugger& d, QoLRunContext* run, const char* position, const char* event, bool stop) {
    DebugSnapshot& s = d.snapshot;
    s.title = d.title;
    s.event = event;
    s.stop = stop;
    s.level = LevelOf(run);
    s.debuggerLevel = d.debuggerLevel;
    const char* text = TextHolding(run, position);
    // The sentence shown: what follows the position, from its next
    // non-blank character to the end of that line.
    const char* at = position;
    if (text)
        while (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n') ++at;
    const SourcePlace place = PlaceOf(run, text ? at : nullptr);
    s.file = place.file;
    s.line = place.line;
    s.column = place.column;
    if (text && place.offset < 0) {  // a text the run made: its own lines
        s.line = LineOf(text, at) - (FileHeaderLength(text) ? 1 : 0);
        s.column = 0;
    }
    s.sentence.clear();
    if (text) {
        const char* end = at;
        while (*end && *end != '\r' && *end != '\n') ++end;
        s.sentence.assign(at, (size_t)(end - at));
    }
    s.rows = d.rows;
    s.currentRow = std::min(s.level, (int)d.rows.size() - 1);
    s.variables = d.variables;
    s.source = d.pane.text;
    s.sourceReadOnly = s.level > d.debuggerLevel;
    s.selectedLevel = d.selected;
    // The listing of the selected level and where that level is in it.
    s.listing.clear();
    s.listingOffset = -1;
    if (d.selected >= 0 && (size_t)d.selected < d.levels.size()) {
        const SourceLevel& shown = d.levels[(size_t)d.selected];
        QoLRunContext* r = engine::EntryStackAt(d.selected);
        const SourcePlace selected = PlaceOf(r ? r : run, shown.position);
        if (selected.offset >= 0) {
            s.listing.assign(selected.listing);
            s.listingOffset = selected.offset;
        }
    }
    if (d.selected >= 0 && (size_t)d.selected < d.pane.markerAt.size()) {
        s.selectionStart = d.pane.markerAt[(size_t)d.selected];
        s.selectionEnd = d.pane.markerEnd[(size_t)d.selected];
    } else {
        s.selectionStart = s.selectionEnd = 0;
    }
    for (int i = 0; i < 3; ++i) s.watchResult[i] = d.watchResult[i];
    s.evalExpression = d.evalExpression;
    s.evalResult = d.evalResult;
    s.fast = d.fast;
    s.terminate = d.terminate;
    s.until = d.until;
    s.pace = d.pace;
    s.settings = d.settings;
}

// Sets the run-to range from a caret offset of the source pane: the
// nearest marker at or before the caret names the level; the range runs
// from that level's position plus the caret's distance from the marker's
// end to the end of that level's text.
bool RunToCaret(Debugger& d, size_t caret) {
    int best = -1;
    for (size_t i = 0; i < d.pane.markerAt.size(); ++i)
        if (d.pane.markerAt[i] <= caret && (best < 0 || d.pane.markerAt[i] >= d.pane.markerAt[(size_t)best]))
            best = (int)i;
    if (best < 0) return false;
    const SourceLevel& level = d.levels[(size_t)best];
    if (!level.start || !level.position) return false;
    const size_t markerEnd = d.pane.markerEnd[(size_t)best];
    const size_t distance = caret > markerEnd ? caret - markerEnd : 0;
    const char* end = level.start + strlen(level.start);
    const char* from = level.position + distance;
    if (from > end) from = end;
    d.runToStart = from;
    d.runToEnd = end;
    return true;
}

// Runs to a line of the listing (the file's lines, as the stops name them):
// inside the text the run is in when that text holds the line, else in the
// listing's own level text.
bool RunToLine(Debugger& d, QoLRunContext* run, const char* position, int line) {
    const SourcePlace place = PlaceOf(run, position);
    if (!place.text || line < 1) return false;
    long lineAt = 0;
    for (int n = 1; n < line && (size_t)lineAt < place.listing.size(); ++lineAt)
        if (place.listing[(size_t)lineAt] == '\n') ++n;
    const char* text = place.text;
    long from = lineAt - place.textAt;
    if (place.textAt == -1 || from < 0 || (size_t)from > strlen(text)) {
        if (place.offset < 0 || !place.listingLevel) return false;
        text = place.listingLevel;
        from = lineAt + (long)FileHeaderLength(text);
    }
    d.runToStart = text + from;
    d.runToEnd = text + strlen(text);
    return true;
}

// The pause: shows the snapshot and handles commands until one ends it or
// the deadline passes. waitMs < 0: no deadline.
void Pause(Debugger& d, QoLRunContext* run, const char* position, int waitMs) {
    DebugView* view = g_view.load();
    if (!view) return;
    CQoLanguage* qo = engine::RunOwner(run);
    const int64_t deadline = waitMs < 0 ? -1 : platform::MonotonicMillis() + waitMs;
    ++d.reentry;
    if (!d.announced) {
        d.announced = true;
        view->Open(d.snapshot);
    }
    for (;;) {
        int remaining = -1;
        if (deadline >= 0) remaining = (int)std::max<int64_t>(0, deadline - platform::MonotonicMillis());
        DebugCommand command;
        try {
            command = view->Wait(d.snapshot, remaining);
        } catch (...) {
            command.kind = DebugCommandKind::kStep;
        }
        d.snapshot.answer.clear();
        d.snapshot.answerCaption.clear();
        d.snapshot.answerDetail.clear();
        bool ends = false;
        switch (command.kind) {
        case DebugCommandKind::kNone: ends = true; break;
        case DebugCommandKind::kStep:
            d.fast = d.pace = false;
            ends = true;
            break;
        case DebugCommandKind::kFast:
            d.fast = true;
            d.pace = false;
            ends = true;
            break;
        case DebugCommandKind::kClose:
            g_debugSwitch &= (unsigned char)~1;
            ends = true;
            break;
        case DebugCommandKind::kTerminate:
            d.terminate = true;
            d.fast = d.pace = false;
            ends = true;
            break;
        case DebugCommandKind::kUntil:
            if (!command.text.empty()) d.settings.condition = command.text;
            d.until = true;
            ends = true;
            break;
        case DebugCommandKind::kPace:
            if (command.number > 0) d.settings.interval = std::to_string(command.number);
            d.pace = true;
            d.fast = false;
            ends = true;
            break;
        case DebugCommandKind::kEval: {
            d.evalExpression = command.text;
            const Evaluation e = EvaluateReadOnly(qo, command.text.c_str());
            d.evalResult = ShownEvaluation(e);
            EvaluateWatches(d, qo);
            d.snapshot.answerCaption = kEvalCaption;
            d.snapshot.answer = d.evalResult;
            d.snapshot.answerDetail = e.error;
            break;
        }
        case DebugCommandKind::kWatch:
            if (command.number >= 0 && command.number < 3) {
                d.settings.watch[command.number] = command.text;
                EvaluateWatches(d, qo);
            }
            break;
        case DebugCommandKind::kLive: d.settings.live = !d.settings.live; break;
        case DebugCommandKind::kRefresh: EvaluateWatches(d, qo); break;
        case DebugCommandKind::kLevel:
            if (command.number >= 0 && command.number <= 2) d.settings.level = (DebugLevel)command.number;
            break;
        case DebugCommandKind::kEntry: d.settings.entry = !d.settings.entry; break;
        case DebugCommandKind::kExit: d.settings.exit = !d.settings.exit; break;
        case DebugCommandKind::kLower: d.settings.lower = !d.settings.lower; break;
        case DebugCommandKind::kRunTo: ends = RunToCaret(d, (size_t)std::max(command.number, 0)); break;
        case DebugCommandKind::kRunToLine: ends = RunToLine(d, run, position, command.number); break;
        case DebugCommandKind::kUp:
            if (d.selected > 0) --d.selected;
            break;
        case DebugCommandKind::kDown:
            if (d.selected + 1 < (int)d.levels.size()) ++d.selected;
            break;
        case DebugCommandKind::kVars: qo->Browser(kBrowseTitle); break;
        case DebugCommandKind::kWide: d.settings.wide = !d.settings.wide; break;
        case DebugCommandKind::kValue:
            d.snapshot.answerCaption = kValueCaption;
            if (command.text.empty()) {
                d.snapshot.answer = FullValue(qo);
            } else {
                const Evaluation e = EvaluateReadOnly(qo, command.text.c_str());
                d.snapshot.answer = e.type == 'X' ? std::string(kCannotCompute) : e.text;
                d.snapshot.answerDetail = e.error;
            }
            break;
        case DebugCommandKind::kViewHost: break;
        }
        if (ends) break;
        // The panes follow the commands that change them.
        for (int i = 0; i < 3; ++i) d.snapshot.watchResult[i] = d.watchResult[i];
        d.snapshot.evalExpression = d.evalExpression;
        d.snapshot.evalResult = d.evalResult;
        d.snapshot.settings = d.settings;
        d.snapshot.fast = d.fast;
        d.snapshot.until = d.until;
        d.snapshot.pace = d.pace;
        d.snapshot.selectedLevel = d.selected;
        if (d.selected >= 0 && (size_t)d.selected < d.pane.markerAt.size()) {
            d.snapshot.selectionStart = d.pane.markerAt[(size_t)d.selected];
            d.snapshot.selectionEnd = d.pane.markerEnd[(size_t)d.selected];
        }
    }
    --d.reentry;
}

bool IsFilteredByLevel(DebugLevel level, char code) {
    switch (level) {
    case DebugLevel::kBlock: return code == '(' || code == ')' || code == ';';
    case DebugLevel::kSentence: return code == '{' || code == '}' || code == '(' || code == ')';
    case DebugLevel::kStep: return code == '{' || code == '}' || code == ';';
    }
    return false;
}

// What the hook does after deciding under the lock.
enum class Action { kNothing, kTerminate };

Action Hook(Debugger& d, QoLRunContext* run, const char* position, const char* event) {
    CQoLanguage* qo = engine::RunOwner(run);
    const char code = event[0];
    if (strcmp(event, "E退出") == 0) {
        if (d.terminating == qo) d.terminating = nullptr;
        if (!d.terminating && g_interruptRequest == 2) g_interruptRequest = 0;
        CloseWindow(d);
        return Action::kNothing;
    }
    if (d.terminating) {
        if (d.terminating != qo) return Action::kNothing;
        if (code == 'E' && engine::RunLevel(run) <= 1) {
            d.terminating = nullptr;
            if (g_interruptRequest == 2) g_interruptRequest = 0;
            return Action::kNothing;
        }
        // A try or SkipError caught the termination: the run still stops.
        const bool goesOn = code == '(' || code == '{' || code == ';' || code == 'B' || code == 'R' || code == '=' ||
                            code == 'C';
        return goesOn ? Action::kTerminate : Action::kNothing;
    }
    if (position && *position == '?') {
        if (position[1] == '?' && d.open) CloseWindow(d);
        return Action::kNothing;
    }
    if (d.reentry > 0) return Action::kNothing;
    // Errors that a try or SkipError (or the caller's error skip) takes.
    if (code == 'X' && ((qo->m_modeFlags & 0x02) || engine::ErrorsWithoutPosition(run))) return Action::kNothing;
    if (!g_view.load()) return Action::kNothing;
    const int level = LevelOf(run);
    if (!d.open) OpenWindow(d, level);
    if (d.lastQo != qo) {
        if (d.lastQo) {
            char title[512];
            snprintf(title, sizeof title, kTitleFormat, level + 1, (unsigned long long)(uintptr_t)qo);
            d.title = title;
        }
        d.lastQo = qo;
    }
    if (d.terminate && code != 'X') {
        // Only where the engine can take the unwind: not at a run's start or end.
        if (code != 'S' && code != 'E') return Action::kTerminate;
    }

    // Classification.
    bool stop = false, conditionFalse = false, forced = false;
    const bool atOrBelow = level <= d.debuggerLevel;
    const bool runTo = d.runToStart != nullptr;
    if (code == 'B' || code == 'X' || code == 'C' || d.forcePause) {
        stop = true;
        forced = d.forcePause;
        d.forcePause = false;
    } else if (atOrBelow && (d.fast || runTo)) {
        if (runTo && position && position >= d.runToStart && position <= d.runToEnd) {
            d.runToStart = d.runToEnd = nullptr;
            stop = true;
        }
    } else if (code == 'S' || code == 'E' || code == '=') {
        if ((code == 'S' || code == 'E') && !atOrBelow) {
            stop = false;
        } else if (d.until) {
            stop = ConditionHolds(qo, d.settings.condition);
            if (stop)
                d.until = false;
            else
                conditionFalse = true;
        } else {
            stop = true;
        }
    } else {
        stop = !IsFilteredByLevel(d.settings.level, code);
        if ((code == '(' || code == '{') && !d.settings.entry) stop = false;
        if ((code == ')' || code == '}') && !d.settings.exit) stop = false;
        if (stop && d.until) {
            stop = ConditionHolds(qo, d.settings.condition);
            if (stop)
                d.until = false;
            else
                conditionFalse = true;
        }
    }

    // Timing.
    const int64_t now = platform::MonotonicMillis();
    if (!stop && now < d.nextRefresh) return Action::kNothing;
    // A forced pause (Alt+Pause, a host's request) comes at any event: it
    // shows the variables as they are.
    const bool variables = code == ')' || code == '=' || code == 'B' || code == 'S' || code == 'E' || d.until ||
                           conditionFalse || forced;
    UpdateDisplay(d, run, position, event, variables);
    if (code == '=') return Action::kNothing;
    if (d.settings.live && !conditionFalse) EvaluateWatches(d, qo);
    if (!d.settings.lower && code != 'B' && d.pane.texts > 1) return Action::kNothing;
    if (code == 'B' && !d.settings.lower) d.settings.lower = true;

    int waitMs = -1;
    if (!atOrBelow) {
        waitMs = 0;
    } else if (d.pace || d.until || d.fast) {
        waitMs = stop ? Interval(d.settings) : ((d.fast || d.until) ? 100 : 0);
    }
    FillSnapshot(d, run, position, event, stop);
    Pause(d, run, position, waitMs);
    d.nextRefresh = platform::MonotonicMillis() + kRefreshMs;
    if (!(g_debugSwitch & 1)) CloseWindow(d);
    return Action::kNothing;
}

void Terminate(Debugger& d, std::unique_lock<std::recursive_mutex>& lock, CQoLanguage* qo,
                            const char* position) {
    const bool first = d.terminating != qo;
    CloseWindow(d);
    d.terminating = qo;
    std::string message = kTerminatedMessage;
    if (first) {
        ++d.reentry;
        const Evaluation closed = EvaluateReadOnly(qo, "TimerClose(0);");
        --d.reentry;
        if (closed.type == 'N' && closed.number >= 1) {
            char suffix[96];
            snprintf(suffix, sizeof suffix, "，同时有%d个QOL计时器被迫关闭", (int)closed.number);
            message += suffix;
        }
    }
    lock.unlock();
    // Unwinds inside a run; outside one the value just becomes X.
    qo->ReportError(message.c_str(), position);
}

}  // namespace

DebugView* SetDebugView(DebugView* view) { return g_view.exchange(view); }
DebugView* InstalledDebugView() { return g_view.load(); }

DebuggerState CurrentDebuggerState() {
    Debugger& d = D();
    std::lock_guard<std::recursive_mutex> lock(d.mutex);
    DebuggerState s;
    s.open = d.open;
    s.debuggerLevel = d.debuggerLevel;
    s.fast = d.fast;
    s.terminate = d.terminate;
    s.until = d.until;
    s.pace = d.pace;
    s.runToSet = d.runToStart != nullptr;
    s.nextRefresh = d.nextRefresh;
    s.settings = d.settings;
    return s;
}

void ResetDebugger() {
    Debugger& d = D();
    std::lock_guard<std::recursive_mutex> lock(d.mutex);
    CloseWindow(d);
    d.terminating = nullptr;
    d.reentry = 0;
    d.nextRefresh = 0;
}

// ---- the engine's hooks ----

void TraceEvent(QoLRunContext* run, const char* position, const char* event) {
    if (!engine::RunOwner(run) || !event || !*event) return;
    CQoLanguage* qo = engine::RunOwner(run);
    // A pause asked for by the host (ruqo_InterruptRun(2), Ctrl-C in qol) or
    // Alt+Pause in pause-key mode.
    bool asked = false;
    if (g_interruptRequest == 3) {
        g_interruptRequest = 0;
        asked = g_view.load() != nullptr;
    }
    if (asked || ((qo->m_modeFlags & 0x20) && platform::KeyIsDown(kVkMenu) && platform::KeyIsDown(kVkPause))) {
        g_debugSwitch |= 1;
        Debugger& d = D();
        std::unique_lock<std::recursive_mutex> lock(d.mutex, std::try_to_lock);
        if (lock.owns_lock() && d.reentry == 0) {
            // A forced pause: this event stops whatever the filters say.
            d.forcePause = true;
            d.fast = d.pace = d.until = false;
            d.runToStart = d.runToEnd = nullptr;
        }
    } else if (!(g_debugSwitch & 1) && !g_interruptRequest) {
        return;
    }
    Debugger& d = D();
    std::unique_lock<std::recursive_mutex> lock(d.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;  // the debugger is busy on another thread
    if (d.open && d.owner != std::this_thread::get_id()) return;
    const char code = event[0];
    if (g_interruptRequest == 1 && d.reentry == 0 && code != 'S' && code != 'E' && code != 'X' &&
        !(position && *position == '?')) {
        // An interrupt ends the run as "终止" does; the hook keeps running
        // until the run is over, so that a try cannot swallow the end.
        g_interruptRequest = 2;
        d.terminating = nullptr;
        Terminate(d, lock, qo, position);
        return;
    }
    if (!(g_debugSwitch & 1) && !d.terminating) {
        if (g_interruptRequest == 2) g_interruptRequest = 0;
        return;
    }
    Action action = Action::kNothing;
    try {
        action = Hook(d, run, position, event);
    } catch (const engine::QolUnwind&) {
        throw;
    } catch (...) {
        action = Action::kNothing;
    }
    if (action == Action::kTerminate) Terminate(d, lock, qo, position);
}

bool ShowDebuggerWindow(QoLRunContext* run) {
    if (!run || !g_view.load()) return false;
    Debugger& d = D();
    std::unique_lock<std::recursive_mutex> lock(d.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    if (!d.open) {
        OpenWindow(d, LevelOf(run));
        FillSnapshot(d, run, nullptr, "S", false);
        d.announced = true;
        g_view.load()->Open(d.snapshot);
    }
    return true;
}

bool DebuggerWindowExists(int* recordedDepth) {
    Debugger& d = D();
    std::unique_lock<std::recursive_mutex> lock(d.mutex, std::try_to_lock);
    const bool open = lock.owns_lock() && d.open;
    if (recordedDepth) *recordedDepth = open ? d.recordedDepth : 0;
    return open;
}

void RefreshDebugger() {}

}  // namespace qotool::diag

CQoLanguage* CQoLanguage::DoQolAndPauseDebug(const char* text, void* hostData) {
    using qotool::diag::g_debugSwitch;
    if (text && text[0] == '?' && (text[1] == 0 || (text[1] == '?' && (text[2] == 0 || (text[2] == '?' && !text[3]))))) {
        const int previous = g_debugSwitch & 1;
        const size_t marks = strlen(text);
        if (marks == 1) g_debugSwitch |= 1;
        if (marks == 2) g_debugSwitch &= (unsigned char)~1;
        m_cType = 'N';
        m_dValue = previous;
        return this;
    }
    const unsigned char saved = g_debugSwitch & 1;
    g_debugSwitch &= (unsigned char)~1;
    CQoLanguage* result = DoQol(text, hostData);
    g_debugSwitch = (unsigned char)((g_debugSwitch & ~1) | saved);
    return result;
}
