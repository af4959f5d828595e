// Running QOL texts and files for the command-line runner, with the encoding
// conversions at the terminal edge and the bookkeeping of the exit status.
#ifndef QOTOOL_TOOLS_QOL_RUNNER_H
#define QOTOOL_TOOLS_QOL_RUNNER_H

#include <string>
#include <string_view>

namespace qol {

// How source texts (arguments, files, standard input, prompt input) and
// output are encoded. kAuto converts a source that is valid UTF-8 with
// non-ASCII bytes to GBK and leaves any other source as it is; kUtf8 always
// converts; kGbk never does. Output is converted GBK -> UTF-8 unless kGbk.
enum class Encoding { kAuto, kGbk, kUtf8 };

class Runner {
public:
    explicit Runner(Encoding encoding) : encoding_(encoding) {}

    // A source text as the GBK the interpreter runs. With stripBom, a UTF-8
    // byte order mark is dropped when the text is converted.
    std::string ToGbk(std::string_view source, bool stripBom = false) const;
    // A GBK text as it is written to the terminal or a pipe; bytes that do
    // not convert become "\xNN".
    std::string ToOutput(std::string_view gbk) const;

    // Runs a GBK text with ruqo_ExecQol. printResult writes the result text
    // and a newline on standard output; reportError writes the message of
    // an error result on standard error.
    void RunGbk(const std::string& gbk, bool printResult, bool reportError);
    // Converts source with ToGbk and runs it as RunGbk does.
    void RunSource(std::string_view source, bool printResult, bool reportError);
    // Reads the file at path (the name as the OS takes it) and runs it with
    // ruqo_ExecQolFile under its name converted to GBK. An error result
    // always writes its message on standard error. Returns false, after a
    // message on standard error, when the file cannot be read.
    bool RunFile(const std::string& path, bool printResult);

    // 0 while the last run's result is not an error (or nothing ran), else 1.
    int ExitStatus() const { return lastWasError_ ? 1 : 0; }

private:
    void Finish(const char* result, bool printResult, bool reportError);

    Encoding encoding_;
    bool lastWasError_ = false;
};

// Reads everything from fd into out. On failure returns false with errno set.
bool ReadAll(int fd, std::string& out);

}  // namespace qol

#endif
