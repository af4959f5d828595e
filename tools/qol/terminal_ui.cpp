#include "terminal_ui.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "qotool/ui_callbacks.h"

extern char** environ;

namespace qol {
namespace {

Encoding g_encoding = Encoding::kAuto;

// A GBK text as the terminal shows it.
std::string ToTerminal(std::string_view gbk, bool escapeBad = true) {
    if (g_encoding == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, escapeBad);
}

// Terminal input as GBK.
std::string FromTerminal(std::string_view text) {
    const bool convert = g_encoding == Encoding::kUtf8 ||
                         (g_encoding == Encoding::kAuto && qotool::platform::IsUtf8WithNonAscii(text));
    return convert ? qotool::platform::Utf8ToGbk(text) : std::string(text);
}

void WriteError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void PrintBox(const char* caption, const char* text) {
    std::string line = "[";
    line += ToTerminal(caption ? caption : "");
    line += "] ";
    line += ToTerminal(text ? text : "");
    line += "\n";
    WriteError(line);
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

// One line from standard input (without its line end); false at the end.
bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

const char* ButtonName(int id) {
    switch (id) {
    case QO_ID_OK: return u8"OK";
    case QO_ID_CANCEL: return u8"Cancel";
    case QO_ID_ABORT: return u8"Abort";
    case QO_ID_RETRY: return u8"Retry";
    case QO_ID_IGNORE: return u8"Ignore";
    case QO_ID_YES: return u8"Yes";
    case QO_ID_NO: return u8"No";
    case QO_ID_TRYAGAIN: return u8"Try again";
    case QO_ID_CONTINUE: return u8"Continue";
    default: return u8"?";
    }
}

// The button a person typed: its number in the list, or its name (or the
// start of it, when that names one button only), in any letter case.
int ParseButton(const std::string& answer, const int* buttons, int count) {
    if (answer.size() == 1 && answer[0] >= '1' && answer[0] < '1' + count) return buttons[answer[0] - '1'];
    int found = 0;
    for (int i = 0; i < count; ++i) {
        const char* name = ButtonName(buttons[i]);
        if (strncasecmp(name, answer.c_str(), answer.size()) != 0) continue;
        if (strlen(name) == answer.size()) return buttons[i];
        found = found ? -1 : buttons[i];
    }
    return found > 0 ? found : 0;
}

int MessageBoxCallback(void*, const char* text, const char* caption, unsigned type) {
    PrintBox(caption, text);
    if (!InputIsTerminal()) return 0;  // the library's headless answer
    int buttons[3];
    const int count = ruqo_UiBoxButtons(type, buttons);
    const int preset = ruqo_UiDefaultButton(type);
    std::string question = u8"  ";
    for (int i = 0; i < count; ++i) {
        question += std::to_string(i + 1) + u8") " + ButtonName(buttons[i]) + u8"  ";
    }
    question += std::string(u8"[Enter: ") + ButtonName(preset) + u8"] ";
    for (;;) {
        WriteError(question);
        std::string answer;
        if (!ReadLine(answer)) return preset;
        const size_t first = answer.find_first_not_of(" \t");
        if (first == std::string::npos) return preset;
        answer = answer.substr(first, answer.find_last_not_of(" \t") - first + 1);
        if (const int button = ParseButton(answer, buttons, count)) return button;
    }
}

void SinkCallback(void*, const char* caption, const char* text) {
    const char* mode = getenv("QO_UI");
    if (mode && strcmp(mode, "silent") == 0) return;
    PrintBox(caption, text);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// Runs the editor command on path through the shell (so that an editor
// given with arguments works); true when it ends with status 0.
bool RunEditor(const char* editor, const std::string& path) {
    const std::string command = std::string(editor) + " \"$1\"";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), "sh", path.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int EditTextCallback(void*, const QoUiEditDialog* dialog, QoUiText* result) {
    if (!InputIsTerminal()) {
        PrintBox(dialog->title, dialog->text);
        return QO_ID_CANCEL;
    }
    const char* editor = getenv("VISUAL");
    if (!editor || !*editor) editor = getenv("EDITOR");
    if (!editor || !*editor) editor = "vi";
    const char* folder = getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/qol-edit-XXXXXX.txt";
    const int fd = mkstemps(path.data(), 4);
    if (fd < 0) {
        WriteError(std::string(u8"qol: cannot create a temporary file: ") + std::strerror(errno) + u8"\n");
        return QO_ID_CANCEL;
    }
    close(fd);
    const std::string shown = ToTerminal(dialog->text, false);
    int answer = QO_ID_CANCEL;
    if (WriteFile(path, shown)) {
        PrintBox(dialog->title, "");
        std::string edited;
        if (RunEditor(editor, path) && ReadFile(path, edited)) {
            answer = QO_ID_OK;
            // An untouched text comes back exactly as it was given.
            if (edited != shown) {
                const std::string gbk = FromTerminal(edited);
                ruqo_UiSetText(result, gbk.data(), static_cast<int>(gbk.size()));
            }
        }
    }
    unlink(path.c_str());
    return answer;
}

void PromptShowCallback(void*, const QoUiPrompt* prompt) { PrintBox(prompt->title, prompt->text); }

int PromptWaitCallback(void*, int timeoutMs) {
    if (!InputIsTerminal() || timeoutMs <= 0) return 0;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready;
    do {
        ready = poll(&input, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return 0;
    std::string line;
    ReadLine(line);
    return 1;
}

void Ignore(void*) {}

}  // namespace

void InstallTerminalUi(Encoding encoding) {
    g_encoding = encoding;
    QoUiCallbacks table{};
    table.size = sizeof table;
    table.message_box = MessageBoxCallback;
    table.sink = SinkCallback;
    table.edit_text = EditTextCallback;
    table.prompt_show = PromptShowCallback;
    table.prompt_hide = Ignore;
    table.prompt_destroy = Ignore;
    table.prompt_wait = PromptWaitCallback;
    ruqo_SetUiCallbacks(&table);
}

}  // namespace qol
