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

#include "platform/encoding.h"
#include "qotool/debug_view.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

Encoding g_encoding = Encoding::kAuto;
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

std::string Out(std::string_view gbk) {
    if (g_encoding == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, true);
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

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(begin, end - begin));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end >= text.size()) break;
        begin = end + 1;
    }
    return lines;
}

// "FILE:LINE:COLUMN" of a stop, as the error reports name places (a run of
// -e TEXT reads no file).
std::string Place(const QoDebugSnapshot* s) {
    std::string place = s->file && *s->file ? Out(s->file) : std::string(u8"-e");
    if (s->line > 0) place += ":" + std::to_string(s->line);
    if (s->line > 0 && s->column > 0) place += ":" + std::to_string(s->column);
    return place;
}

std::string StopLine(const QoDebugSnapshot* s) {
    return Place(s) + u8": " + Out(s->event) + u8" level " + std::to_string(s->level) + u8": " + Out(s->sentence);
}

std::string WatchLine(const QoDebugSnapshot* s, int i) {
    return std::string(u8"watch ") + std::to_string(i + 1) + u8" " + Out(s->watch[i]) + u8" = " +
           Out(s->watch_result[i]);
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

// ---- the screen ----

// Display width of a character (code point) on a terminal: East Asian wide
// and fullwidth forms take two columns, combining marks none.
int CharWidth(unsigned c) {
    if (c == 0) return 0;
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE20 && c <= 0xFE2F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The character of a shown text (in the terminal's encoding) at i: its
// length in bytes and its width in columns.
void NextChar(const std::string& text, size_t i, size_t& length, int& width) {
    const unsigned char c = (unsigned char)text[i];
    length = 1;
    unsigned code = c;
    if (c >= 0x80) {
        if (g_encoding == Encoding::kGbk) {
            length = i + 1 < text.size() ? 2 : 1;
            code = 0x4E00;  // a double-byte character: two columns
        } else {
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (i + length > text.size()) length = text.size() - i;
            code = length == 1 ? '?' : c & (0x3F >> (length - 1));
            for (size_t k = 1; k < length; ++k) code = code << 6 | ((unsigned char)text[i + k] & 0x3F);
        }
    }
    width = CharWidth(code);
}

// A text as the terminal shows it (in its encoding) cut to width columns:
// tabs become blanks to the next multiple of 4, other control characters
// "?", so that nothing a script holds can move the cursor.
std::string Fit(const std::string& text, int width) {
    std::string out;
    int used = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '\t') {
            const int blanks = 4 - used % 4;
            if (used + blanks > width) break;
            out.append((size_t)blanks, ' ');
            used += blanks;
            ++i;
            continue;
        }
        size_t length = 1;
        int w = 1;
        NextChar(text, i, length, w);
        if (used + w > width) break;
        if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out.append(text, i, length);
        used += w;
        i += length;
    }
    return out;
}

// Columns of a text that Fit gave.
int Width(const std::string& shown) {
    int width = 0;
    for (size_t i = 0, length = 1; i < shown.size(); i += length) {
        int w = 1;
        NextChar(shown, i, length, w);
        width += w;
    }
    return width;
}

// "title" without the window's hot keys, which a terminal does not have.
std::string ShortTitle(const char* title) {
    std::string t = title ? title : "";
    const size_t keys = t.find("快捷键");
    if (keys != std::string::npos) t.resize(keys);
    while (!t.empty() && (t.back() == ' ' || t.back() == '(')) t.pop_back();
    return Out(t);
}

std::string Rule(const std::string& label, int width) {
    std::string line = Fit(u8"-- " + label + u8" ", width);
    line.append((size_t)std::max(0, width - Width(line)), '-');
    return line;
}

// Whether name is used in sentence as a whole name.
bool Mentions(const std::string& sentence, const std::string& name) {
    if (name.empty()) return false;
    auto isNameByte = [](char c) {
        const unsigned char u = (unsigned char)c;
        return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z');
    };
    for (size_t at = sentence.find(name); at != std::string::npos; at = sentence.find(name, at + 1)) {
        const bool before = at > 0 && isNameByte(sentence[at - 1]);
        const bool after = at + name.size() < sentence.size() && isNameByte(sentence[at + name.size()]);
        if (!before && !after) return true;
    }
    return false;
}

// The variables pane (GBK) for the screen: the innermost level's variables
// (those the sentence names first) without its header, then the outer
// levels and the arrays as the pane gives them.
std::vector<std::string> VariableLines(const QoDebugSnapshot* s) {
    std::vector<std::string> lines = SplitLines(s->variables ? s->variables : "");
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    const std::string header = "-------- ";
    size_t first = 0;
    if (!lines.empty() && lines[0].compare(0, header.size(), header) == 0) first = 1;
    size_t end = first;
    while (end < lines.size() && !lines[end].empty() && lines[end].compare(0, header.size(), header) != 0) ++end;
    const std::string sentence = s->sentence ? s->sentence : "";
    std::vector<std::string> named, others;
    for (size_t i = first; i < end; ++i) {
        // "T型 name = value"
        const std::string& line = lines[i];
        const size_t equals = line.find(" = ");
        const std::string name = line.size() > 4 && equals != std::string::npos ? line.substr(4, equals - 4) : "";
        (Mentions(sentence, name) ? named : others).push_back(line);
    }
    std::vector<std::string> out;
    for (auto* part : {&named, &others})
        for (std::string& line : *part) out.push_back(Out(line));
    for (size_t i = end; i < lines.size(); ++i)
        if (!lines[i].empty()) out.push_back(Out(lines[i]));
    return out;
}

// The listing's lines around the selected position, "> 12  text" for its
// line; without a listing, the library's source pane around its marker.
std::vector<std::string> SourceLines(const QoDebugSnapshot* s, int count, int width) {
    std::vector<std::string> out;
    const bool numbered = s->listing && *s->listing && s->listing_offset >= 0;
    const std::string_view text = numbered ? s->listing : (s->source ? s->source : "");
    const size_t at = numbered ? (size_t)s->listing_offset : s->selection_start;
    std::vector<size_t> starts{0};
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') starts.push_back(i + 1);
    const size_t current = (size_t)(std::upper_bound(starts.begin(), starts.end(), at) - starts.begin()) - 1;
    const size_t before = (size_t)std::max(0, (count - 1) / 3);
    size_t begin = current > before ? current - before : 0;
    const size_t end = std::min(starts.size(), begin + (size_t)count);
    if (end - begin < (size_t)count) begin = end > (size_t)count ? end - (size_t)count : 0;
    const int digits = (int)std::to_string(end).size();
    for (size_t i = begin; i < end; ++i) {
        std::string_view line = text.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] - 1 : text.size()) - starts[i]);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string margin = i == current ? u8">" : u8" ";
        if (numbered) {
            const std::string number = std::to_string(i + 1);
            margin += std::string((size_t)(digits - (int)number.size()), ' ') + number + u8"  ";
        }
        out.push_back(margin + Fit(Out(line), width - (int)margin.size()));
    }
    return out;
}

void Pad(std::vector<std::string>& lines, size_t count) {
    if (lines.size() > count) lines.resize(count);
    while (lines.size() < count) lines.emplace_back();
}

// The screen's rows above the prompt row.
std::vector<std::string> Layout(const QoDebugSnapshot* s, const std::vector<std::string>& message, int rows,
                                int columns) {
    const int width = columns - 1;
    std::vector<std::string> screen;
    std::string title = ShortTitle(s->title) + u8"  " + Out(s->event) + u8"  " + Place(s);
    if (s->level > 0) title += u8"  level " + std::to_string(s->level);
    title = Fit(title, width);
    screen.push_back(u8"\x1b[7m" + title + u8"\x1b[0m");
    const int body = rows - 2;
    std::vector<std::string> answer;
    for (const std::string& line : message) answer.push_back(Fit(line, width));
    if ((int)answer.size() > body / 2) {
        // A long answer takes the whole body.
        if ((int)answer.size() > body) {
            const size_t more = answer.size() - (size_t)body + 1;
            answer.resize((size_t)body - 1);
            answer.push_back(Fit(u8"... " + std::to_string(more) + u8" more lines", width));
        }
        Pad(answer, (size_t)body);
        screen.insert(screen.end(), answer.begin(), answer.end());
        return screen;
    }
    const int panes = body - (int)answer.size();
    // The level list: the current row and its neighbours.
    const int levelRows = std::max(1, std::min(s->row_count, panes / 6));
    int firstRow = std::max(0, std::min(s->current_row - levelRows / 2, s->row_count - levelRows));
    for (int i = firstRow; i < firstRow + levelRows && i < s->row_count; ++i) {
        const QoDebugRow& r = s->rows[i];
        const std::string row = (i == s->current_row ? u8">" : u8" ") +
                                Out(std::string(r.depth) + " " + r.label + " " + r.type + " " + r.assigned + " " +
                                    r.position + " " + r.value);
        screen.push_back(Fit(row, width));
    }
    while ((int)screen.size() < 1 + levelRows) screen.emplace_back();
    const int rest = panes - levelRows - 2;
    std::vector<std::string> source = SourceLines(s, std::max(1, s->wide ? rest * 3 / 4 : rest * 11 / 20), width);
    std::vector<std::string> variables;
    for (int i = 0; i < 3; ++i)
        if (s->watch[i] && *s->watch[i]) variables.push_back(Fit(WatchLine(s, i), width));
    for (const std::string& line : VariableLines(s)) variables.push_back(Fit(line, width));
    // Rows the source leaves go to the variables, and the other way round.
    const int variableRows = std::min((int)variables.size(), std::max(0, rest - (int)source.size()));
    const int sourceRows = rest - variableRows;
    if ((int)source.size() < sourceRows) source = SourceLines(s, sourceRows, width);
    const bool numbered = s->listing && *s->listing && s->listing_offset >= 0;
    screen.push_back(Rule(numbered ? u8"source " + (s->file && *s->file ? Out(s->file) : std::string(u8"-e"))
                                   : std::string(u8"source"),
                          width));
    Pad(source, (size_t)sourceRows);
    screen.insert(screen.end(), source.begin(), source.end());
    screen.push_back(Rule(u8"variables", width));
    Pad(variables, (size_t)variableRows);
    screen.insert(screen.end(), variables.begin(), variables.end());
    screen.insert(screen.end(), answer.begin(), answer.end());
    return screen;
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
    const std::vector<std::string> screen = Layout(s, message, rows, columns);
    for (size_t i = 0; i < screen.size() && (int)i < rows - 1; ++i)
        out += "\x1b[" + std::to_string(i + 1) + ";1H" + screen[i] + "\x1b[K";
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
