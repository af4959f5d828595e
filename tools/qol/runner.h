// Running QOL texts and files for the command-line runner, with the encoding
// conversions at the terminal edge, the one-line error reports and the
// bookkeeping of the exit status.
#ifndef QOTOOL_TOOLS_QOL_RUNNER_H
#define QOTOOL_TOOLS_QOL_RUNNER_H

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct QoInterp;

namespace qol {

// How source texts (arguments, files, standard input, prompt input) and
// output are encoded. kAuto converts a source that is valid UTF-8 with
// non-ASCII bytes to GBK and leaves any other source as it is; kUtf8 always
// converts; kGbk never does. Output is converted GBK -> UTF-8 unless kGbk.
enum class Encoding { kAuto, kGbk, kUtf8 };

constexpr int kUsageError = 2;

class Runner {
public:
    explicit Runner(Encoding encoding);

    // Whether ToGbk converts source.
    bool Converts(std::string_view source) const;
    // A source text as the GBK the interpreter runs. With stripBom, a UTF-8
    // byte order mark is dropped when the text is converted. A character
    // that GBK lacks becomes "?"; with a name (and the number of the
    // source's first line) a warning on standard error names the first of
    // them and its place, once for the text.
    std::string ToGbk(std::string_view source, bool stripBom = false, const std::string* name = nullptr,
                      int firstLine = 1) const;
    // A GBK text as it is written to the terminal or a pipe; bytes that do
    // not convert become "\xNN".
    std::string ToOutput(std::string_view gbk) const;
    // Writes a GBK text and a newline as ToOutput would, a slice at a time,
    // so that a result of any size prints without a second copy of it.
    void PrintLine(FILE* stream, std::string_view gbk) const;

    // Runs a GBK text on the shared interpreter. printResult writes the
    // result text and a newline on standard output; reportError writes an
    // error as "name:LINE:COLUMN: message" on standard error.
    void RunGbk(const std::string& gbk, bool printResult, bool reportError, const std::string& name = "-e");
    // Converts source with ToGbk and runs it as RunGbk does; as a script
    // (see RunFile) when script is true.
    void RunSource(std::string_view source, bool printResult, bool reportError, const std::string& name,
                   bool script = false);
    // Reads the script at path (the name as the OS takes it) and runs it as
    // the QOL file of that name: a "#!" first line is skipped, a UTF-8 text
    // with characters that end in the byte 0x5C in GBK gets a warning per
    // character. An error always writes its one-line report. Returns false,
    // after a message on standard error, when the file cannot be read.
    bool RunFile(const std::string& path, bool printResult);
    // The interpreter's syntax check of the script at path: each finding as
    // "path:LINE:COLUMN: message" on standard error. Returns the exit status:
    // 0 no finding, 1 findings, 2 unreadable.
    int CheckFile(const std::string& path);

    // Pumps the message queue for ms milliseconds (timers of modes 0 and 1
    // run), or until a script asks for exit().
    void Pump(int ms);

    // Gives the scripts the array argv (argv[0] the script) and argc.
    void SetScriptArguments(const std::vector<std::string>& arguments);

    // exit(code) of a script: the run in progress is asked to end (as Ctrl-C
    // asks, so that no try keeps it going) and the runner runs nothing more.
    void RequestExit(int code);
    bool ExitRequested() const { return exitCode_ >= 0; }

    // The code of exit() once a script asked for it; otherwise 0 while the
    // last run's result is not an error (or nothing ran), else 1. A result
    // value never sets the status.
    int ExitStatus() const { return ExitRequested() ? exitCode_.load() : lastWasError_ ? 1 : 0; }

private:
    bool ReadScript(const std::string& path, std::string& gbk);
    void Finish(const std::string& name, bool printResult, bool reportError);

    Encoding encoding_;
    QoInterp* interp_;
    bool lastWasError_ = false;
    std::atomic<int> exitCode_{-1};  // -1 until exit()
};

// Reads everything from fd into out. On failure returns false with errno set.
bool ReadAll(int fd, std::string& out);

}  // namespace qol

#endif
