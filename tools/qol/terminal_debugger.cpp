#include "terminal_debugger.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "debugger_screen.h"
#include "platform/encoding.h"
#include "qotool/debug_view.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

using screen::Fit;
using screen::Out;
using screen::Place;
using screen::SplitLines;
using screen::WatchLine;
using screen::g_encoding;
std::string g_commandText;  // the text of the last command handed to the library
std::string g_settingsFile;  // where the debugger keeps its settings, as shown
bool g_restoredShown = false;

// Scripted: commands from g_commands (a file or standard input), stops on
// standard output. On a terminal: commands and screens on g_tty; on one
// that cannot draw (TERM dumb or unset) commands and stop lines there.
bool g_screen = false;
int g_tty = -1;
int g_commands = STDIN_FILENO;

volatile sig_atomic_t g_resized = 0;
volatile sig_atomic_t g_interrupts = 0;  // Ctrl-C presses since the last stop
volatile sig_atomic_t g_onAlternateScreen = 0;

const char kEnterScreen[] = "\x1b[?1049h";
const char kLeaveScreen[] = "\x1b[?1049l";
constexpr int kMinColumns = 40, kMinRows = 10;

void WriteFd(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix((size_t)n);
    }
}

// Output of the debugger itself: the terminal's screen, or standard output.
void Print(const std::string& text) {
    if (g_tty >= 0) return WriteFd(g_tty, text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void EnterScreen() {
    if (g_onAlternateScreen) return;
    std::fflush(stdout);
    std::fflush(stderr);
    g_onAlternateScreen = 1;
    WriteFd(g_tty, kEnterScreen);
}

// Async-signal-safe: the terminal's own screen back.
void LeaveScreen() {
    if (!g_onAlternateScreen) return;
    g_onAlternateScreen = 0;
    const ssize_t ignored = write(g_tty, kLeaveScreen, sizeof kLeaveScreen - 1);
    (void)ignored;
}

void RestoreAtExit() { LeaveScreen(); }

void OnFatalSignal(int signal) {
    LeaveScreen();
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void OnResize(int) { g_resized = 1; }

void OnInterrupt(int) {
    ruqo_InterruptRun(2);
    if (++g_interrupts == 3) {
        static const char kHint[] =
            u8"\nqol: the run has not come to a step where it can pause (Ctrl-\\ ends qol)\n";
        const ssize_t ignored = write(STDERR_FILENO, kHint, sizeof kHint - 1);
        (void)ignored;
    }
}

std::string In(std::string_view text) {
    const bool convert = g_encoding == Encoding::kUtf8 ||
                         (g_encoding == Encoding::kAuto && qotool::platform::IsUtf8WithNonAscii(text));
    return convert ? qotool::platform::Utf8ToGbk(text) : std::string(text);
}

// One line of the commands without its line end; false at their end. On a
// terminal a resize (redraw set) or a Ctrl-C (interrupted set) ends the wait
// with false too.
bool ReadLine(std::string& line, bool* redraw = nullptr, bool* interrupted = nullptr) {
    line.clear();
    for (;;) {
        if (g_screen && line.empty()) {
            // The signals stay blocked but while ppoll waits, so that one
            // that comes just before the wait is not missed.
            sigset_t blocked, previous;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGINT);
            sigaddset(&blocked, SIGWINCH);
            sigprocmask(SIG_BLOCK, &blocked, &previous);
            pollfd input{g_commands, POLLIN, 0};
            for (;;) {
                if ((g_interrupts && interrupted) || (g_resized && redraw)) break;
                if (ppoll(&input, 1, nullptr, &previous) >= 0 || errno != EINTR) break;
            }
            sigprocmask(SIG_SETMASK, &previous, nullptr);
            if (g_interrupts && interrupted) {
                *interrupted = true;
                return false;
            }
            if (g_resized && redraw) {
                *redraw = true;
                return false;
            }
        }
        char c;
        const ssize_t n = read(g_commands, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

const char kHelp[] =
    u8"Commands (a shorter start of a word that names one command will do):\n"
    u8"  step, s          run to the next stop: the next sentence (see level);\n"
    u8"                   Enter on a terminal does this\n"
    u8"  continue, c      run on to the next ? marker in the script\n"
    u8"  fast             run on, showing each ? marker and error for the pace\n"
    u8"                   interval\n"
    u8"  close            turn the debugger off; a ? marker turns it on again\n"
    u8"  terminate        end the run here with the debugger's error\n"
    u8"  until [EXPR]     run until EXPR is true (until i==5); alone: the last EXPR\n"
    u8"  pace MS          run on, showing each stop for MS milliseconds\n"
    u8"  run LINE         run to LINE of the file shown\n"
    u8"  eval EXPR        evaluate EXPR here (read-only) and the watches\n"
    u8"  value [EXPR]     the whole value of the current step, or of EXPR\n"
    u8"  watch N [EXPR]   show EXPR at every stop (N 1-3); no EXPR clears it\n"
    u8"  live             re-evaluate the watches at every stop: on/off\n"
    u8"  level block|sentence|step\n"
    u8"                   stop at each block, each sentence or each step\n"
    u8"  entry, exit      stop where ( and { start, where ) and } end: on/off\n"
    u8"  lower            stop inside texts that other runs started: on/off\n"
    u8"  up, down         show the run that started this one, or the one it\n"
    u8"                   started\n"
    u8"  vars             list all variables and arrays\n"
    u8"  wide             more lines of the source: on/off\n"
    u8"  help             this list\n"
    u8"Ctrl-C while the script runs pauses it here.\n";

struct Word {
    const char* name;
    int kind;
};
// Exact short forms come first: "c" would otherwise name close and continue.
const Word kWords[] = {
    {"c", QO_DEBUG_CLOSE},      {"s", QO_DEBUG_STEP},     {"step", QO_DEBUG_STEP},
    {"continue", QO_DEBUG_CLOSE}, {"fast", QO_DEBUG_FAST}, {"close", QO_DEBUG_CLOSE},
    {"terminate", QO_DEBUG_TERMINATE}, {"until", QO_DEBUG_UNTIL}, {"pace", QO_DEBUG_PACE},
    {"eval", QO_DEBUG_EVAL},    {"watch", QO_DEBUG_WATCH}, {"live", QO_DEBUG_LIVE},
    {"level", QO_DEBUG_LEVEL},  {"entry", QO_DEBUG_ENTRY}, {"exit", QO_DEBUG_EXIT},
    {"lower", QO_DEBUG_LOWER},  {"run", QO_DEBUG_RUN_TO_LINE}, {"up", QO_DEBUG_UP},
    {"down", QO_DEBUG_DOWN},    {"vars", QO_DEBUG_VARS},  {"wide", QO_DEBUG_WIDE},
    {"value", QO_DEBUG_VALUE},  {"help", -2},
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
    errno = 0;
    const long v = strtol(text.c_str(), &end, 10);
    if (*end || errno || v < -2147483647L || v > 2147483647L) return false;
    out = (int)v;
    return true;
}

std::string StopLine(const QoDebugSnapshot* s) {
    return Place(s) + u8": " + Out(s->event) + u8" level " + std::to_string(s->level) + u8": " + Out(s->sentence);
}

// The snapshot's pause being shown: its stop has been printed or drawn.
bool g_stopShown = false;
int g_lastCommand = 0, g_lastNumber = 0;

// What the last command that kept the pause answered, one line each.
std::vector<std::string> Answer(const QoDebugSnapshot* s) {
    std::vector<std::string> lines;
    if (s->answer_caption && *s->answer_caption) {
        const bool value = strcmp(s->answer_caption, "结果值") == 0;
        std::string line = std::string(value ? u8"value: " : u8"eval: ") + Out(s->answer);
        std::vector<std::string> detail = SplitLines(s->answer_detail ? s->answer_detail : "");
        if (!detail.empty() && !detail[0].empty()) {
            line += u8": " + Out(detail[0]);
            for (size_t i = 1; i < detail.size(); ++i) line += u8"\n  " + Out(detail[i]);
        }
        for (std::string& l : SplitLines(line)) lines.push_back(std::move(l));
    }
    if (g_lastCommand == QO_DEBUG_WATCH || g_lastCommand == QO_DEBUG_REFRESH) {
        for (int i = 0; i < 3; ++i) {
            if (s->watch[i] && *s->watch[i])
                lines.push_back(WatchLine(s, i));
            else if (g_lastCommand == QO_DEBUG_WATCH && i == g_lastNumber)
                lines.push_back(std::string(u8"watch ") + std::to_string(i + 1) + u8" cleared");
        }
    }
    if (g_lastCommand == QO_DEBUG_UP || g_lastCommand == QO_DEBUG_DOWN)
        lines.push_back(std::string(u8"selected level ") + std::to_string(s->selected_level));
    if (g_lastCommand == QO_DEBUG_LEVEL)
        lines.push_back(std::string(u8"level ") +
                        (s->debug_level == 0 ? u8"block" : s->debug_level == 2 ? u8"step" : u8"sentence"));
    const struct {
        int kind;
        const char* name;
        int on;
    } toggles[] = {{QO_DEBUG_ENTRY, u8"entry", s->entry}, {QO_DEBUG_EXIT, u8"exit", s->exit},
                   {QO_DEBUG_LOWER, u8"lower", s->lower}, {QO_DEBUG_LIVE, u8"live", s->live},
                   {QO_DEBUG_WIDE, u8"wide", s->wide}};
    for (const auto& t : toggles)
        if (g_lastCommand == t.kind) lines.push_back(std::string(t.name) + (t.on ? u8" on" : u8" off"));
    return lines;
}

// The watches the settings file brought back, said once per process.
std::string RestoredWatches(const QoDebugSnapshot* s) {
    if (g_restoredShown) return std::string();
    g_restoredShown = true;
    std::string list;
    for (int i = 0; i < 3; ++i)
        if (s->watch[i] && *s->watch[i]) list += (list.empty() ? "" : u8"; ") + std::to_string(i + 1) + " " + Out(s->watch[i]);
    if (list.empty()) return list;
    return u8"watches restored from " + (g_settingsFile.empty() ? std::string(u8"the settings file") : g_settingsFile) +
           u8": " + list + u8" ('watch N' clears one)";
}

const char kPrompt[] = u8"debug> ";

void Draw(const QoDebugSnapshot* s, const std::vector<std::string>& message) {
    g_resized = 0;
    winsize size{};
    const bool known = ioctl(g_tty, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0;
    const int rows = known ? size.ws_row : 24, columns = known ? size.ws_col : 80;
    EnterScreen();
    std::string out;
    if (rows < kMinRows || columns < kMinColumns) {
        // Too small to lay out: a message and the stop, as the terminal wraps them.
        out = u8"\x1b[H\x1b[2J" + std::to_string(columns) + "x" + std::to_string(rows) + u8" is too small (need " +
              std::to_string(kMinColumns) + "x" + std::to_string(kMinRows) + u8")\r\n" + kPrompt;
        return WriteFd(g_tty, out);
    }
    const std::vector<std::string> lines = screen::Layout(s, message, rows, columns);
    for (size_t i = 0; i < lines.size() && (int)i < rows - 1; ++i)
        out += "\x1b[" + std::to_string(i + 1) + ";1H" + lines[i] + "\x1b[K";
    out += "\x1b[" + std::to_string(rows) + ";1H\x1b[K" + kPrompt;
    WriteFd(g_tty, out);
}

// help and vars print on the terminal's own screen, which keeps what a long
// listing scrolls away; Enter comes back to the debugger.
void ShowOnOwnScreen(const std::string& text) {
    LeaveScreen();
    WriteFd(g_tty, text);
    WriteFd(g_tty, u8"Press Enter to return to the debugger. ");
    std::string ignored;
    ReadLine(ignored);
}

bool EndsThePause(int kind) {
    return kind == QO_DEBUG_STEP || kind == QO_DEBUG_FAST || kind == QO_DEBUG_CLOSE || kind == QO_DEBUG_TERMINATE ||
           kind == QO_DEBUG_UNTIL || kind == QO_DEBUG_PACE || kind == QO_DEBUG_RUN_TO_LINE || kind == QO_DEBUG_RUN_TO;
}

int Wait(void*, const QoDebugSnapshot* s, int waitMs, int* number, const char** text) {
    *number = 0;
    *text = "";
    g_interrupts = 0;
    std::vector<std::string> message;
    const std::string restored = s->stop ? RestoredWatches(s) : std::string();
    if (g_stopShown) {
        message = Answer(s);
        if (!g_screen)
            for (const std::string& line : message) Print(line + "\n");
    } else if (!g_screen) {
        if (!s->stop) return QO_DEBUG_NONE;  // a progress refresh
        Print(StopLine(s) + "\n");
        if (s->live)
            for (int i = 0; i < 3; ++i)
                if (s->watch[i] && *s->watch[i]) Print(WatchLine(s, i) + "\n");
    }
    if (!restored.empty()) {
        if (g_screen)
            message.insert(message.begin(), restored);
        else
            std::fprintf(stderr, u8"qol: %s\n", restored.c_str());
    }
    if (waitMs >= 0) {
        // A timed wait: the stop is shown, the run goes on by itself.
        if (g_screen) Draw(s, message);
        g_stopShown = false;
        if (waitMs > 0) poll(nullptr, 0, waitMs);
        if (g_screen) LeaveScreen();
        return QO_DEBUG_NONE;
    }
    g_stopShown = true;
    for (;;) {
        if (g_screen)
            Draw(s, message);
        else if (g_tty >= 0)
            Print(kPrompt);
        std::string line;
        bool redraw = false, interrupted = false;
        if (!ReadLine(line, &redraw, &interrupted)) {
            if (redraw || interrupted) {
                if (interrupted) {
                    g_interrupts = 0;
                    ruqo_InterruptRun(0);
                    message = {u8"Ctrl-C: the run is paused here already (help lists the commands)"};
                }
                continue;
            }
            line = u8"close";  // the end of the commands
        }
        line = TrimBlanks(line);
        if (line.empty()) {
            if (g_tty < 0) continue;
            line = u8"step";
        }
        ParsedCommand c = ParseDebuggerCommand(line);
        if (c.kind == QO_DEBUG_UNTIL && c.text.empty() && !(s->condition && *s->condition)) {
            c.kind = -1;
            c.text = u8"until needs a condition, such as: until i==5";
        }
        if (c.kind == QO_DEBUG_EVAL && c.text.empty()) {
            c.kind = -1;
            c.text = u8"eval needs an expression, such as: eval i*2";
        }
        if (c.kind == -2) {
            std::string help = kHelp;
            if (!g_settingsFile.empty()) help += u8"Settings and watches are kept in " + g_settingsFile + u8".\n";
            if (g_screen)
                ShowOnOwnScreen(help);
            else
                Print(help);
            message.clear();
            continue;
        }
        if (c.kind < 0) {
            message = {u8"qol: " + c.text};
            if (!g_screen) Print(message[0] + "\n");
            continue;
        }
        g_commandText = In(c.text);
        *number = c.number;
        *text = g_commandText.c_str();
        g_lastCommand = c.kind;
        g_lastNumber = c.number;
        if (EndsThePause(c.kind)) {
            g_stopShown = false;
            if (g_screen) LeaveScreen();
        }
        // A Ctrl-C typed at the prompt is no pause request for the run.
        ruqo_InterruptRun(0);
        return c.kind;
    }
}

void Close(void*) {
    g_stopShown = false;
    if (g_screen) LeaveScreen();
}

std::string BrowserText(QoBrowser* browser, bool numbered) {
    std::string out = Out(ruqo_BrowserTitle(browser)) + "\n";
    for (int node = 0; node < 4; ++node) {
        out += (numbered ? std::to_string(node) + u8" [" : std::string(u8"[")) + Out(ruqo_BrowserNodeName(node)) +
               u8"]\n";
        const int rows = ruqo_BrowserRowCount(browser, node);
        for (int r = 0; r < rows; ++r) {
            std::string line = numbered ? u8"  " + std::to_string(r) + u8": " : std::string(u8"  ");
            line += Out(ruqo_BrowserCell(browser, node, r, 0));
            const std::string type = ruqo_BrowserCell(browser, node, r, 1);
            if (!type.empty()) line += u8" " + Out(type);
            const std::string value = ruqo_BrowserCell(browser, node, r, 2);
            if (!value.empty()) line += u8" = " + Out(value);
            out += line + "\n";
        }
    }
    return out;
}

// The browser: its rows; on a terminal also "click NODE ROW COLUMN" (the
// numbers shown; column 0 name, 1 type, 2 value) until an empty line.
int Browse(void*, QoBrowser* browser) {
    if (!g_screen) {
        Print(BrowserText(browser, false));
        return 1;
    }
    LeaveScreen();
    for (;;) {
        WriteFd(g_tty, BrowserText(browser, true));
        WriteFd(g_tty, u8"browse (click NODE ROW COLUMN, Enter returns to the debugger)> ");
        std::string line;
        if (!ReadLine(line)) return 1;
        line = TrimBlanks(line);
        if (line.empty() || line == u8"close") return 1;
        int node = 0, row = 0, column = 0;
        if (sscanf(line.c_str(), "click %d %d %d", &node, &row, &column) != 3) {
            WriteFd(g_tty, u8"qol: click NODE ROW COLUMN, or Enter to return\n");
            continue;
        }
        const int code = ruqo_BrowserClick(browser, node, row, column);
        if (code != 0) return code;  // reopens on the interpreter the click chose
    }
}

// mkdir -p of the folders of path (mode 0700 for new ones).
void MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

// The user's settings file, unless QO_DEBUG_SETTINGS names one.
void UseUserSettings() {
    if (const char* named = getenv("QO_DEBUG_SETTINGS"); named && *named) {
        g_settingsFile = named;
        return;
    }
    std::string folder;
    if (const char* config = getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        folder = config;
    } else {
        const char* home = getenv("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!home || !*home) return;  // the library's own file then
        folder = std::string(home) + "/.config";
    }
    g_settingsFile = folder + "/qol/QolDebug.ini";
    MakeFolders(g_settingsFile);
    ruqo_SetDebugSettingsFile(In(g_settingsFile).c_str());
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
        out.text = (matches == 0 ? u8"unknown command '" : u8"ambiguous command '") + Fit(word, 40) +
                   u8"' (help lists them)";
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
            out.text = std::string(found->kind == QO_DEBUG_PACE ? u8"pace needs a number of milliseconds"
                                                                 : u8"run needs a line number")  +
                       (rest.empty() ? std::string() : u8", not '" + Fit(rest, 40) + u8"'");
        }
        break;
    case QO_DEBUG_WATCH: {
        const size_t gap = rest.find_first_of(" \t");
        if (!ParseInt(rest.substr(0, gap), out.number) || out.number < 1 || out.number > 3) {
            out.kind = -1;
            out.text = u8"watch needs a number 1-3 and an expression (none clears the watch)";
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

bool InstallTerminalDebugger(Encoding encoding, const std::string& commandFile) {
    g_encoding = encoding;
    if (!commandFile.empty()) {
        g_commands = open(commandFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (g_commands < 0) {
            std::fprintf(stderr, u8"qol: cannot read %s: %s\n", commandFile.c_str(), std::strerror(errno));
            return false;
        }
    } else if ((g_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) >= 0) {
        const char* term = getenv("TERM");
        g_screen = term && *term && strcmp(term, "dumb") != 0;
        g_commands = g_tty;
    }
    UseUserSettings();
    static QoDebugCallbacks table{};
    table.size = sizeof table;
    table.wait = &Wait;
    table.close = &Close;
    table.browse = &Browse;
    ruqo_SetDebugCallbacks(&table);

    struct sigaction action{};
    sigemptyset(&action.sa_mask);
    // Restarted: a script reading its input must not see the interruption.
    action.sa_flags = SA_RESTART;
    action.sa_handler = &OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    if (g_screen) {
        action.sa_handler = &OnResize;
        sigaction(SIGWINCH, &action, nullptr);
        action.sa_handler = &OnFatalSignal;
        for (int signal : {SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE}) sigaction(signal, &action, nullptr);
        std::atexit(&RestoreAtExit);
    }
    if (CQoLanguage* qo = ruqo_GetSharedQol()) qo->DoQolAndPauseDebug("?", nullptr);
    return true;
}

}  // namespace qol
