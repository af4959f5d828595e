// qol: runs QOL texts, files, standard input or an interactive prompt on the
// shared interpreter of the library, whose objects the program holds. This
// file reads the options and runs what they name, in order.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "check_command.h"
#include "console_words.h"
#include "lsp_server.h"
#include "platform/memory_probe.h"
#include "qotool/qotool.h"
#include "repl.h"
#include "runner.h"
#include "terminal_debugger.h"
#include "terminal_ui.h"

#ifndef QOL_VERSION
#error "QOL_VERSION must be defined by the build"
#endif

// Where libqoTool_NoQO.so lies, installed (relative to this program's folder)
// and in the build tree: the library's folder of this process is that of
// the first that exists.
extern "C" const char* const qotool_library_file_candidates[] = {QOL_INSTALLED_LIBRARY, QOL_BUILT_LIBRARY, nullptr};

// The program's zero-initialised data (.bss, some 10 KiB) made present and
// writable in one call, before any static initialiser runs. Left to page
// faults, a page that is read before it is written costs two, the second a
// copy-on-write whose TLB flush a virtual machine makes dear (some 40 us
// here), and the C++ library's locale set-up does that on two pages at
// every start.
extern "C" char __bss_start[], _end[];
__attribute__((constructor(101))) static void MakeZeroDataPresent() {
    // From the start of the page that __bss_start lies in (the kernel has
    // already written that page, the end of the file's data).
    const uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    const uintptr_t from = (uintptr_t)__bss_start & ~(page - 1);
    qotool::platform::MakePagesPresent((void*)from, (uintptr_t)_end + page - 1 - from);
}

namespace qol {
namespace {

const char kHelp[] =
    u8"Usage: qol [options] SCRIPT [ARG...]  run SCRIPT ('-': standard input) with\n"
    u8"                                      the arguments argv and argc\n"
    u8"       qol [options] -f FILE...       run QOL files in order\n"
    u8"       qol [options] -e TEXT          run TEXT (repeatable; each -e is one run)\n"
    u8"       qol --check FILE...            static check of QOL files\n"
    u8"       qol --lsp                      language server for editors on standard\n"
    u8"                                      input and output (see docs/editors.md)\n"
    u8"       qol [options]                  interactive prompt when standard input\n"
    u8"                                      is a terminal, else run it as one text\n"
    u8"\n"
    u8"Options:\n"
    u8"  -e TEXT        run TEXT and print its result text\n"
    u8"  -f FILE        run FILE (repeatable)\n"
    u8"  -r, --result   also print the result text after each script and file and\n"
    u8"                 after standard input\n"
    u8"  -i             enter the interactive prompt after running the script\n"
    u8"  --check FILE...  static check of the files (nothing runs): each finding\n"
    u8"                 as FILE:LINE:COLUMN: error|warning: message [code];\n"
    u8"                 exit status 1 when any is an error\n"
    u8"  --encoding=auto|gbk|utf-8\n"
    u8"                 encoding of arguments, files, standard input and output\n"
    u8"                 (default auto). auto converts a source that is valid UTF-8\n"
    u8"                 with non-ASCII bytes to GBK and leaves any other as it is;\n"
    u8"                 utf-8 always converts; gbk passes bytes unchanged. Output is\n"
    u8"                 converted from GBK to UTF-8 unless gbk; a byte that does not\n"
    u8"                 convert prints as \\xNN.\n"
    u8"  --log-dir DIR  the message log's work directory (the log file\n"
    u8"                 RuQoLog_NoQo_QOL.Txt and its generations go there)\n"
    u8"  --pump MS      after every run, pump the message queue for MS\n"
    u8"                 milliseconds so that timers run (timeropen modes 0, 1)\n"
    u8"  --debug        follow the runs in the terminal debugger ('help' at its\n"
    u8"                 prompt lists the commands); it reads the commands from\n"
    u8"                 the terminal, else one per line from standard input\n"
    u8"  --debug-commands FILE\n"
    u8"                 --debug with the commands read from FILE, one per line;\n"
    u8"                 each stop prints as FILE:LINE:COLUMN: EVENT ...\n"
    u8"  --version      print the version\n"
    u8"  -h, --help     print this text\n"
    u8"\n"
    u8"Everything after SCRIPT goes to the script: argv[0] is SCRIPT, argv[1]...\n"
    u8"the ARGs, argc their count. A first line starting with #! is skipped.\n"
    u8"Scripts can use print(...), eprint(...), readline() and exit([code]).\n"
    u8"All runs share one interpreter and happen in the order given. A result\n"
    u8"text is T:value, T the type letter (N number, S string, P pointer,\n"
    u8"Z nothing, X error). An error also prints NAME:LINE:COLUMN: message on\n"
    u8"standard error, except at the prompt.\n"
    u8"At the prompt every input prints its result text; a line that leaves\n"
    u8"a ( [ or { open continues on the next line, and Ctrl-D ends the input.\n"
    u8"\n"
    u8"Message boxes print as [caption] text on standard error and, when standard\n"
    u8"input is a terminal, ask for a button (Enter takes the default); otherwise\n"
    u8"they answer their default button (QO_MSGBOX_ANSWER=yes|no|ok|cancel|... or\n"
    u8"a number forces one). The edit dialog opens $VISUAL or $EDITOR (else vi)\n"
    u8"on a temporary copy of the text. QO_UI=silent drops diagnostics.\n"
    u8"Extension modules are found in $QO_MODULE_PATH among other places.\n"
    u8"\n"
    u8"Exit status: the code of exit(code) when a script calls it (nothing runs\n"
    u8"after it); else 0 when the last run's result is not an error, 1 when it\n"
    u8"is, 2 for a usage error or a file that cannot be read.\n";

struct Run {
    bool isFile;
    std::string argument;  // the text of -e, or the file name
};

struct Options {
    Encoding encoding = Encoding::kAuto;
    bool printFileResults = false;
    bool debug = false;
    bool lsp = false;  // --lsp: serve editors on standard input and output
    std::string debugCommands;  // --debug-commands FILE
    bool interactive = false;
    std::vector<Run> runs;
    std::vector<std::string> checks;
    // SCRIPT and its arguments; empty without a SCRIPT.
    std::vector<std::string> script;
    const char* logDirectory = nullptr;  // --log-dir
    int pumpMs = 0;                      // --pump: pump messages after every run
};

int UsageError(const char* format, const char* detail) {
    std::fprintf(stderr, format, detail);
    std::fputs(u8"Try 'qol --help'.\n", stderr);
    return kUsageError;
}

bool ParseEncoding(std::string_view name, Encoding& encoding) {
    if (name == u8"auto") {
        encoding = Encoding::kAuto;
    } else if (name == u8"gbk") {
        encoding = Encoding::kGbk;
    } else if (name == u8"utf-8" || name == u8"utf8") {
        encoding = Encoding::kUtf8;
    } else {
        return false;
    }
    return true;
}

// Reads the arguments into options. Returns -1 to go on running, else the
// exit status (after --help, --version or a usage error).
int ParseArguments(int argc, char** argv, Options& options) {
    bool operandsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            if (!options.checks.empty()) {  // --check FILE...
                options.checks.push_back(argv[i]);
                continue;
            }
            options.script.assign(argv + i, argv + argc);
            break;
        } else if (arg == u8"--") {
            operandsOnly = true;
        } else if (arg == u8"-e") {
            if (i + 1 >= argc) return UsageError(u8"qol: %s needs a TEXT argument\n", argv[i]);
            options.runs.push_back({false, argv[++i]});
        } else if (arg.substr(0, 2) == u8"-e") {
            options.runs.push_back({false, std::string(arg.substr(2))});
        } else if (arg == u8"-f" || arg == u8"--check") {
            if (i + 1 >= argc) return UsageError(u8"qol: %s needs a FILE argument\n", argv[i]);
            if (arg == u8"-f")
                options.runs.push_back({true, argv[++i]});
            else
                options.checks.push_back(argv[++i]);
        } else if (arg == u8"-i") {
            options.interactive = true;
        } else if (arg == u8"-r" || arg == u8"--result") {
            options.printFileResults = true;
        } else if (arg == u8"--encoding" || arg.substr(0, 11) == u8"--encoding=") {
            const char* value = nullptr;
            if (arg.size() > 10) {
                value = argv[i] + 11;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return UsageError(u8"qol: %s needs a value: auto, gbk or utf-8\n", argv[i]);
            }
            if (!ParseEncoding(value, options.encoding)) {
                return UsageError(u8"qol: unknown encoding '%s' (use auto, gbk or utf-8)\n", value);
            }
        } else if (arg == u8"--log-dir" || arg.substr(0, 10) == u8"--log-dir=") {
            if (arg.size() > 9) {
                options.logDirectory = argv[i] + 10;
            } else if (i + 1 < argc) {
                options.logDirectory = argv[++i];
            } else {
                return UsageError(u8"qol: %s needs a directory\n", argv[i]);
            }
        } else if (arg == u8"--pump" || arg.substr(0, 7) == u8"--pump=") {
            const char* value = arg.size() > 6 ? argv[i] + 7 : i + 1 < argc ? argv[++i] : nullptr;
            char* end = nullptr;
            const long ms = value ? std::strtol(value, &end, 10) : -1;
            if (!value || !*value || *end || ms < 0 || ms > 86400000) {
                return UsageError(u8"qol: --pump needs a number of milliseconds, not '%s'\n", value ? value : "");
            }
            options.pumpMs = (int)ms;
        } else if (arg == u8"--lsp") {
            options.lsp = true;
        } else if (arg == u8"--debug") {
            options.debug = true;
        } else if (arg == u8"--debug-commands") {
            if (i + 1 >= argc) return UsageError(u8"qol: %s needs a FILE argument\n", argv[i]);
            options.debug = true;
            options.debugCommands = argv[++i];
        } else if (arg == u8"-h" || arg == u8"--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == u8"--version") {
            std::fputs(u8"qol " QOL_VERSION u8"\n", stdout);
            return 0;
        } else {
            return UsageError(u8"qol: unknown option '%s'\n", argv[i]);
        }
    }
    return -1;
}

}  // namespace
}  // namespace qol

int main(int argc, char** argv) {
    qol::Options options;
    const int status = qol::ParseArguments(argc, argv, options);
    if (status >= 0) return status;

    if (options.lsp) return qol::RunLanguageServer(STDIN_FILENO, STDOUT_FILENO);
    if (!options.checks.empty()) return qol::CheckFiles(options.checks, options.encoding);
    qol::InstallTerminalUi(options.encoding);
    if (options.debug) {
        if (options.runs.empty() && options.script.empty()) return qol::UsageError(u8"qol: %s needs FILE or -e TEXT\n", u8"--debug");
        if (!qol::InstallTerminalDebugger(options.encoding, options.debugCommands)) return qol::kUsageError;
    }
    qol::Runner runner(options.encoding);
    // The library logged while it loaded: the log does that again in DIR.
    if (options.logDirectory) ruqo_SetLogDirectory(runner.ToGbk(options.logDirectory).c_str());
    qol::RegisterConsoleWords(runner);
    if (options.runs.empty() && options.script.empty()) {
        if (isatty(STDIN_FILENO)) {
            qol::RunPrompt(runner);
        } else {
            std::string source;
            if (!qol::ReadAll(STDIN_FILENO, source)) {
                std::fprintf(stderr, u8"qol: cannot read standard input: %s\n", std::strerror(errno));
                return qol::kUsageError;
            }
            runner.RunSource(source, options.printFileResults, true, u8"<stdin>");
            runner.Pump(options.pumpMs);
        }
        return runner.ExitStatus();
    }
    for (const qol::Run& run : options.runs) {
        if (run.isFile) {
            if (!runner.RunFile(run.argument, options.printFileResults)) return qol::kUsageError;
        } else {
            runner.RunSource(run.argument, true, true, u8"-e");
        }
        runner.Pump(options.pumpMs);
        if (runner.ExitRequested()) return runner.ExitStatus();
    }
    if (!options.script.empty()) {
        runner.SetScriptArguments(options.script);
        const std::string& script = options.script.front();
        if (script == u8"-") {
            std::string source;
            if (!qol::ReadAll(STDIN_FILENO, source)) {
                std::fprintf(stderr, u8"qol: cannot read standard input: %s\n", std::strerror(errno));
                return qol::kUsageError;
            }
            runner.RunSource(source, options.printFileResults, true, u8"<stdin>", true);
        } else if (!runner.RunFile(script, options.printFileResults)) {
            return qol::kUsageError;
        }
        runner.Pump(options.pumpMs);
        if (runner.ExitRequested()) return runner.ExitStatus();
    }
    if (options.interactive) qol::RunPrompt(runner);
    return runner.ExitStatus();
}
