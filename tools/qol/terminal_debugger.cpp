#include "terminal_debugger.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "qotool/debug_view.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

Encoding g_encoding = Encoding::kAuto;
bool g_terminal = false;
std::string g_commandText;  // the text of the last command handed to the library

// Ctrl-C latch: reads as Alt (18) and Pause (19) held until the Pause key
// has been seen down once.
volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
    if (g_interrupts > 0) _exit(130);
    g_interrupts = 1;
}

int LatchedKeys(int vk) {
    if (!g_interrupts) return 0;
    if (vk == 18) return 0x8000;
    if (vk == 19) {
        g_interrupts = 0;
        return 0x8000;
    }
    return 0;
}

std::string Out(std::string_view gbk) {
    if (g_encoding == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, true);
}

std::string In(std::string_view text) {
    const bool convert = g_encoding == Encoding::kUtf8 ||
                         (g_encoding == Encoding::kAuto && qotool::platform::IsUtf8WithNonAscii(text));
    return convert ? qotool::platform::Utf8ToGbk(text) : std::string(text);
}

void Print(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

// One line of standard input without its line end; false at the end.
bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            g_interrupts = 0;  // Ctrl-C at the prompt does nothing
            continue;
        }
        if (n <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

const char kHelp[] =
    u8"step              run to the next stop (also: Enter on a terminal)\n"
    u8"fast              fast forward: stop only at breakpoints and errors\n"
    u8"close             turn the debugger off and let the run go on\n"
    u8"terminate         end the run with the debugger's report\n"
    u8"until EXPR        run until EXPR holds\n"
    u8"pace MS           run on, pausing MS milliseconds at each stop\n"
    u8"eval EXPR         evaluate EXPR (read-only) and the watches\n"
    u8"watch N EXPR      set watch N (1-3); an empty EXPR clears it\n"
    u8"live              turn live watching on or off\n"
    u8"level block|sentence|step\n"
    u8"                  pause per block, per sentence or per step\n"
    u8"entry, exit, lower\n"
    u8"                  turn pausing at entries, exits, lower levels on/off\n"
    u8"run LINE          run to LINE of the current text\n"
    u8"up, down          select the level above or below\n"
    u8"vars              list the variables (the variable browser)\n"
    u8"wide              show or hide the wide source pane\n"
    u8"value [EXPR]      the full value of the current level or of EXPR\n"
    u8"help              this list\n"
    u8"Each word may be shortened to a prefix that names one command.\n";

struct Word {
    const char* name;
    int kind;
};
const Word kWords[] = {
    {"step", QO_DEBUG_STEP},   {"fast", QO_DEBUG_FAST},    {"close", QO_DEBUG_CLOSE},
    {"terminate", QO_DEBUG_TERMINATE}, {"until", QO_DEBUG_UNTIL}, {"pace", QO_DEBUG_PACE},
    {"eval", QO_DEBUG_EVAL},   {"watch", QO_DEBUG_WATCH},  {"live", QO_DEBUG_LIVE},
    {"level", QO_DEBUG_LEVEL}, {"entry", QO_DEBUG_ENTRY},  {"exit", QO_DEBUG_EXIT},
    {"lower", QO_DEBUG_LOWER}, {"run", QO_DEBUG_RUN_TO_LINE}, {"up", QO_DEBUG_UP},
    {"down", QO_DEBUG_DOWN},   {"vars", QO_DEBUG_VARS},    {"wide", QO_DEBUG_WIDE},
    {"value", QO_DEBUG_VALUE}, {"help", -2},
};

std::string TrimBlanks(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

bool ParseInt(const std::string& text, int& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (*end || v < -2147483647L || v > 2147483647L) return false;
    out = (int)v;
    return true;
}

// The snapshot's pause being shown: its stop line has been printed.
bool g_stopShown = false;
int g_lastCommand = 0;

void PrintStopLine(const QoDebugSnapshot* s) {
    char head[96];
    snprintf(head, sizeof head, " level %d line %d: ", s->level, s->line);
    Print(Out(s->event) + head + Out(s->sentence) + "\n");
    if (s->live)
        for (int i = 0; i < 3; ++i)
            if (s->watch[i] && *s->watch[i])
                Print(std::string(u8"watch ") + std::to_string(i + 1) + u8" " + Out(s->watch[i]) + u8" = " +
                      Out(s->watch_result[i]) + "\n");
}

// The source lines around the selected marker, the marker's line flagged.
void PrintSourceAround(const QoDebugSnapshot* s, int context) {
    const std::string source = s->source ? s->source : "";
    const size_t at = s->selection_start < source.size() ? s->selection_start : 0;
    std::vector<std::string> lines;
    size_t lineOfMarker = 0, begin = 0;
    while (begin <= source.size()) {
        size_t end = source.find('\n', begin);
        if (end == std::string::npos) end = source.size();
        if (at >= begin && at <= end) lineOfMarker = lines.size();
        std::string line = source.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end >= source.size()) break;
        begin = end + 1;
    }
    const size_t first = lineOfMarker > (size_t)context ? lineOfMarker - context : 0;
    const size_t last = std::min(lines.size(), lineOfMarker + context + 1);
    for (size_t i = first; i < last; ++i) Print((i == lineOfMarker ? u8"=> " : u8"   ") + Out(lines[i]) + "\n");
}

void DrawScreen(const QoDebugSnapshot* s) {
    Print(u8"\x1b[H\x1b[2J");
    Print(Out(s->title) + "\n");
    for (int i = 0; i < s->row_count; ++i) {
        const QoDebugRow& r = s->rows[i];
        Print(Out(std::string(r.depth) + " " + r.label + " " + r.type + " " + r.assigned + " " + r.value + " " +
                  r.position) +
              (i == s->current_row ? u8"  <\n" : u8"\n"));
    }
    Print(u8"----\n");
    PrintSourceAround(s, s->wide ? 12 : 5);
    Print(u8"----\n");
    std::string vars = s->variables ? s->variables : "";
    size_t shown = 0, lines = 0;
    while (shown < vars.size() && lines < 12) {
        size_t end = vars.find('\n', shown);
        if (end == std::string::npos) end = vars.size();
        std::string line = vars.substr(shown, end - shown);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Print(Out(line) + "\n");
        shown = end + 1;
        ++lines;
    }
    Print(u8"----\n");
    PrintStopLine(s);
}

int Wait(void*, const QoDebugSnapshot* s, int waitMs, int* number, const char** text) {
    *number = 0;
    *text = "";
    const bool samePause = g_stopShown;
    if (samePause) {
        if (s->answer_caption && *s->answer_caption)
            Print(std::string(strcmp(s->answer_caption, "结果值") == 0 ? u8"value: " : u8"eval: ") + Out(s->answer) +
                  "\n");
        if (g_lastCommand == QO_DEBUG_WATCH || g_lastCommand == QO_DEBUG_REFRESH)
            for (int i = 0; i < 3; ++i)
                if (s->watch[i] && *s->watch[i])
                    Print(std::string(u8"watch ") + std::to_string(i + 1) + u8" " + Out(s->watch[i]) + u8" = " +
                          Out(s->watch_result[i]) + "\n");
        if (g_lastCommand == QO_DEBUG_UP || g_lastCommand == QO_DEBUG_DOWN)
            Print(std::string(u8"selected level ") + std::to_string(s->selected_level) + "\n");
        if (g_lastCommand == QO_DEBUG_LEVEL)
            Print(std::string(u8"level ") +
                  (s->debug_level == 0 ? u8"block" : s->debug_level == 2 ? u8"step" : u8"sentence") + "\n");
        const struct {
            int kind;
            const char* name;
            int on;
        } toggles[] = {{QO_DEBUG_ENTRY, u8"entry", s->entry}, {QO_DEBUG_EXIT, u8"exit", s->exit},
                       {QO_DEBUG_LOWER, u8"lower", s->lower}, {QO_DEBUG_LIVE, u8"live", s->live},
                       {QO_DEBUG_WIDE, u8"wide", s->wide}};
        for (const auto& t : toggles)
            if (g_lastCommand == t.kind) Print(std::string(t.name) + (t.on ? u8" on\n" : u8" off\n"));
    } else {
        if (!s->stop && !g_terminal) return QO_DEBUG_NONE;  // a progress refresh
        if (g_terminal)
            DrawScreen(s);
        else
            PrintStopLine(s);
    }
    if (waitMs >= 0) {
        // A timed wait: the stop is shown, the run goes on by itself.
        g_stopShown = false;
        if (waitMs > 0) poll(nullptr, 0, waitMs);
        return QO_DEBUG_NONE;
    }
    g_stopShown = true;
    for (;;) {
        if (g_terminal) Print(u8"debug> ");
        std::string line;
        if (!ReadLine(line)) {
            g_stopShown = false;
            g_lastCommand = QO_DEBUG_CLOSE;
            return QO_DEBUG_CLOSE;
        }
        line = TrimBlanks(line);
        if (line.empty()) {
            if (!g_terminal) continue;
            line = u8"step";
        }
        ParsedCommand c = ParseDebuggerCommand(line);
        if (c.kind == -2) {
            Print(kHelp);
            continue;
        }
        if (c.kind < 0) {
            Print(u8"qol: " + c.text + "\n");
            continue;
        }
        g_commandText = In(c.text);
        *number = c.number;
        *text = g_commandText.c_str();
        g_lastCommand = c.kind;
        const bool ends = c.kind == QO_DEBUG_STEP || c.kind == QO_DEBUG_FAST || c.kind == QO_DEBUG_CLOSE ||
                          c.kind == QO_DEBUG_TERMINATE || c.kind == QO_DEBUG_UNTIL || c.kind == QO_DEBUG_PACE ||
                          c.kind == QO_DEBUG_RUN_TO_LINE || c.kind == QO_DEBUG_RUN_TO;
        if (ends) g_stopShown = false;
        return c.kind;
    }
}

void Close(void*) { g_stopShown = false; }

void PrintBrowser(QoBrowser* browser, bool numbered) {
    Print(Out(ruqo_BrowserTitle(browser)) + "\n");
    for (int node = 0; node < 4; ++node) {
        Print((numbered ? std::to_string(node) + u8" [" : std::string(u8"[")) + Out(ruqo_BrowserNodeName(node)) +
              u8"]\n");
        const int rows = ruqo_BrowserRowCount(browser, node);
        for (int r = 0; r < rows; ++r) {
            std::string line = numbered ? u8"  " + std::to_string(r) + u8": " : std::string(u8"  ");
            line += Out(ruqo_BrowserCell(browser, node, r, 0));
            const std::string type = ruqo_BrowserCell(browser, node, r, 1);
            if (!type.empty()) line += u8" " + Out(type);
            const std::string value = ruqo_BrowserCell(browser, node, r, 2);
            if (!value.empty()) line += u8" = " + Out(value);
            Print(line + "\n");
        }
    }
}

// The browser: its rows; on a terminal also "click NODE ROW COLUMN" (the
// numbers shown; column 0 name, 1 type, 2 value) until an empty line.
int Browse(void*, QoBrowser* browser) {
    PrintBrowser(browser, g_terminal);
    if (!g_terminal) return 1;
    for (;;) {
        Print(u8"browse (click NODE ROW COLUMN, Enter closes)> ");
        std::string line;
        if (!ReadLine(line)) return 1;
        line = TrimBlanks(line);
        if (line.empty() || line == u8"close") return 1;
        int node = 0, row = 0, column = 0;
        if (sscanf(line.c_str(), "click %d %d %d", &node, &row, &column) != 3) {
            Print(u8"qol: click NODE ROW COLUMN, or Enter to close\n");
            continue;
        }
        const int code = ruqo_BrowserClick(browser, node, row, column);
        if (code != 0) return code;  // reopens on the interpreter the click chose
    }
}

}  // namespace

ParsedCommand ParseDebuggerCommand(const std::string& line) {
    ParsedCommand out;
    const size_t space = line.find_first_of(" \t");
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : TrimBlanks(line.substr(space + 1));
    const Word* found = nullptr;
    int matches = 0;
    for (const Word& w : kWords) {
        if (word == w.name) {
            found = &w;
            matches = 1;
            break;
        }
        if (!word.empty() && std::string(w.name).compare(0, word.size(), word) == 0) {
            found = &w;
            ++matches;
        }
    }
    if (matches != 1) {
        out.text = (matches == 0 ? u8"unknown command '" : u8"ambiguous command '") + word + u8"' (help lists them)";
        return out;
    }
    out.kind = found->kind;
    switch (out.kind) {
    case QO_DEBUG_UNTIL:
    case QO_DEBUG_EVAL:
    case QO_DEBUG_VALUE: out.text = rest; break;
    case QO_DEBUG_PACE:
    case QO_DEBUG_RUN_TO_LINE:
        if (!ParseInt(rest, out.number) || out.number <= 0) {
            out.kind = -1;
            out.text = std::string(found->name) + u8" needs a positive number";
        }
        break;
    case QO_DEBUG_WATCH: {
        const size_t gap = rest.find_first_of(" \t");
        if (!ParseInt(rest.substr(0, gap), out.number) || out.number < 1 || out.number > 3) {
            out.kind = -1;
            out.text = u8"watch needs a number 1-3 and an expression";
            break;
        }
        --out.number;
        out.text = gap == std::string::npos ? std::string() : TrimBlanks(rest.substr(gap));
        break;
    }
    case QO_DEBUG_LEVEL:
        if (rest == u8"block" || rest == u8"b") {
            out.number = 0;
        } else if (rest == u8"sentence" || rest == u8"se") {
            out.number = 1;
        } else if (rest == u8"step" || rest == u8"st") {
            out.number = 2;
        } else {
            out.kind = -1;
            out.text = u8"level takes block, sentence or step";
        }
        break;
    default:
        if (!rest.empty() && out.kind != -2) {
            out.kind = -1;
            out.text = std::string(found->name) + u8" takes no argument";
        }
    }
    return out;
}

void InstallTerminalDebugger(Encoding encoding) {
    g_encoding = encoding;
    g_terminal = isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
    static QoDebugCallbacks table{};
    table.size = sizeof table;
    table.wait = &Wait;
    table.close = &Close;
    table.browse = &Browse;
    ruqo_SetDebugCallbacks(&table);
    struct sigaction action{};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    ruqo_SetKeyStateProvider(&LatchedKeys);
    if (CQoLanguage* qo = ruqo_GetSharedQol()) qo->DoQolAndPauseDebug("?", nullptr);
}

}  // namespace qol
