#include "repl.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <histedit.h>
#include <string>

#include "qotool/debug_view.h"
#include "script_source.h"

namespace qol {
namespace {

const char* g_prompt = "";

char* Prompt(EditLine*) {
    return const_cast<char*>(g_prompt);
}

// Ctrl-C: while a run is in progress it asks the run to end (with the
// debugger's termination report); at the prompt it cancels the line.
volatile sig_atomic_t g_running = 0;
volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    if (g_running) ruqo_InterruptRun(1);
}

// ~/.qol_history, or empty without a home directory.
std::string HistoryPath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::string();
    std::string path = home;
    if (path.back() != '/') path += '/';
    return path + ".qol_history";
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The prompt's own word: "help" (or "help()") alone as an input.
bool IsHelp(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n;");
    if (first == std::string_view::npos) return false;
    text = text.substr(first, text.find_last_not_of(" \t\r\n;") + 1 - first);
    return text == "help" || text == "help()";
}

const char kPromptHelp[] =
    u8"Each input runs on one interpreter, which keeps its variables and functions\n"
    u8"from input to input, and shows its result text T:value (N number, S string,\n"
    u8"P pointer, Z nothing, X error):   x = 6 * 7   gives N:42.\n"
    u8"An input that leaves a ( [ or { open goes on at the ...> prompt; it is kept\n"
    u8"in the history (up and down arrows, ~/.qol_history) as one entry.\n"
    u8"Words of qol: print(a, ...), eprint(a, ...), readline(), exit([code]),\n"
    u8"utf8(s), gbk(s); argv and argc after a script. 'help' works here only.\n"
    u8"Ctrl-C stops a run or drops the input being typed; Ctrl-D ends qol.\n"
    u8"More: 'man qol', and the language and built-ins guides (language.md,\n"
    u8"builtins.md) in the documentation.\n";

// The line editor is loaded when the prompt starts, so that running a script
// does not pay for loading it and the libraries it needs.
struct LineEditor {
    decltype(&::el_init) init = nullptr;
    decltype(&::el_set) set = nullptr;
    decltype(&::el_source) source = nullptr;
    decltype(&::el_gets) gets = nullptr;
    decltype(&::el_reset) reset = nullptr;
    decltype(&::el_end) end = nullptr;
    decltype(&::history_init) history_init = nullptr;
    decltype(&::history) history = nullptr;
    decltype(&::history_end) history_end = nullptr;
};

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Loads the line editor; on failure says why on stderr and returns false.
bool LoadLineEditor(LineEditor& editor) {
    void* library = dlopen(QOL_LIBEDIT_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr && Find(library, "el_init", editor.init) && Find(library, "el_set", editor.set) &&
        Find(library, "el_source", editor.source) && Find(library, "el_gets", editor.gets) &&
        Find(library, "el_reset", editor.reset) && Find(library, "el_end", editor.end) &&
        Find(library, "history_init", editor.history_init) && Find(library, "history", editor.history) &&
        Find(library, "history_end", editor.history_end)) {
        return true;
    }
    const char* why = dlerror();
    std::fprintf(stderr, u8"qol: no line editing (%s); reading plain lines\n",
                 why != nullptr ? why : QOL_LIBEDIT_SONAME);
    return false;
}

// Reads one line, with its newline, after showing the prompt, without
// editing; false at the end of input (or when Ctrl-C broke the read).
bool ReadPlainLine(const char* prompt, std::string& line) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    line.clear();
    int c = 0;
    while ((c = std::getchar()) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    return !line.empty();
}

}  // namespace

void RunPrompt(Runner& runner) {
    // Line editing needs the terminal's character set; the library itself
    // never depends on the process locale.
    // Under a locale without multibyte characters (C, POSIX) typed UTF-8
    // would reach the editor as meta keys: it reads UTF-8 then, and the
    // runner converts what is valid UTF-8 to GBK.
    if (!std::setlocale(LC_CTYPE, "") || MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    LineEditor el;
    const bool editing = LoadLineEditor(el);
    EditLine* editor = nullptr;
    History* history = nullptr;
    HistEvent event;
    const std::string historyPath = editing ? HistoryPath() : std::string();
    if (editing) {
        editor = el.init("qol", stdin, stdout, stderr);
        history = el.history_init();
        el.history(history, &event, H_SETSIZE, 1000);
        el.history(history, &event, H_SETUNIQUE, 1);
        el.set(editor, EL_EDITOR, "emacs");
        el.set(editor, EL_HIST, el.history, history);
        el.set(editor, EL_PROMPT, Prompt);
        el.set(editor, EL_SIGNAL, 1);
        el.source(editor, nullptr);
        if (!historyPath.empty()) el.history(history, &event, H_LOAD, historyPath.c_str());
    }

    std::fputs(u8"qol " QOL_VERSION u8": type QOL to run it, 'help' for help, Ctrl-D to end.\n", stdout);
    std::string pending;  // the input read so far, as typed
    std::string plain;
    for (;;) {
        g_prompt = pending.empty() ? u8"qol> " : u8"...> ";
        const char* line = nullptr;
        int count = 0;
        if (editing) {
            line = el.gets(editor, &count);
        } else if (ReadPlainLine(g_prompt, plain)) {
            line = plain.c_str();
            count = static_cast<int>(plain.size());
        }
        if (g_interrupted) {
            // Ctrl-C cancels the input being typed.
            g_interrupted = 0;
            pending.clear();
            std::fputs(u8"\n", stdout);
            if (editing)
                el.reset(editor);
            else
                std::clearerr(stdin);
            continue;
        }
        const bool ended = line == nullptr || count <= 0;
        if (!ended) {
            std::string text(line, static_cast<size_t>(count));
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            pending += text;
        }
        // At the end of input, an unfinished input still runs.
        const std::string gbk = runner.ToGbk(pending);
        if (!ended && FindOpenAtEnd(gbk).brackets > 0) {
            pending += '\n';
            continue;
        }
        if (editing && !IsBlank(pending)) {
            // One history entry holds the whole input, lines and all.
            el.history(history, &event, H_ENTER, pending.c_str());
            if (!historyPath.empty()) el.history(history, &event, H_SAVE, historyPath.c_str());
        }
        if (IsHelp(pending)) {
            std::fputs(kPromptHelp, stdout);
        } else if (!IsBlank(pending)) {
            g_interrupted = 0;
            g_running = 1;
            static const std::string kPrompt = u8"<prompt>";
            runner.RunGbk(runner.ToGbk(pending, false, &kPrompt), true, false);
            g_running = 0;
            ruqo_InterruptRun(0);  // a Ctrl-C that came after the run's last step
            g_interrupted = 0;
        }
        pending.clear();
        if (ended || runner.ExitRequested()) break;
    }
    std::fputs(u8"\n", stdout);
    sigaction(SIGINT, &previous, nullptr);
    if (editing) {
        el.history_end(history);
        el.end(editor);
    }
}

}  // namespace qol
