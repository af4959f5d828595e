#include "console_words.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/encoding.h"
#include "platform/number_text.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

Runner& RunnerOf(void* userData) { return *static_cast<Runner*>(userData); }

// A value's text as the interpreter writes it (its result text without
// the type letter).
void AppendText(const QoValue& value, std::string& out) {
    switch (value.type) {
    case 'N': {
        if (std::isinf(value.number)) {
            out += "数值范围超界";
            break;
        }
        char digits[32];
        out.append(digits, static_cast<size_t>(qotool::platform::FormatNumber15(value.number, digits)));
        break;
    }
    case 'S': out.append(value.text, static_cast<size_t>(value.length)); break;
    case 'P':
        out += std::to_string(value.pointer);
        if (value.extType) out += value.extType;
        break;
    default: break;
    }
}

// print and eprint: the arguments' texts joined by a space, and a newline.
int Print(FILE* stream, int argc, const QoValue* argv, void* userData) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) joined += ' ';
        AppendText(argv[i], joined);
    }
    const std::string out = RunnerOf(userData).ToOutput(joined) + "\n";
    std::fflush(stream == stderr ? stdout : stderr);
    std::fwrite(out.data(), 1, out.size(), stream);
    std::fflush(stream);
    return QO_OK;
}

int PrintWord(QoInterp*, int argc, const QoValue* argv, QoValue*, void* userData) {
    return Print(stdout, argc, argv, userData);
}

int EprintWord(QoInterp*, int argc, const QoValue* argv, QoValue*, void* userData) {
    return Print(stderr, argc, argv, userData);
}

int ReadlineWord(QoInterp*, int, const QoValue*, QoValue* result, void* userData) {
    static int lineNumber = 0;  // of standard input, as readline reads it
    static const std::string kInput = u8"<stdin>";
    std::string line;
    int c = 0;
    while ((c = std::getc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) return QO_OK;  // the end of the input: Z
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string gbk = RunnerOf(userData).ToGbk(line, false, &kInput, ++lineNumber);
    *result = ruqo_ValueText(gbk.data(), static_cast<long>(gbk.size()));
    return QO_OK;
}

// exit([code]): the runner ends the run and then itself. The error unwinds
// the run at once; a try that catches it still ends with the run.
int ExitWord(QoInterp* interp, int argc, const QoValue* argv, QoValue*, void* userData) {
    double code = 0;
    if (argc > 0 && ruqo_CheckNumber(interp, argc, argv, 0, &code) != QO_OK) return QO_ERROR;
    if (!(code >= 0 && code <= 255 && code == std::floor(code))) {
        std::string given;
        AppendText(argv[0], given);
        return ruqo_Error(interp, "exit()的参数应是0到255的整数，不是N型数据(%s)", given.c_str());
    }
    RunnerOf(userData).RequestExit(static_cast<int>(code));
    return ruqo_Error(interp, "exit(%d)", static_cast<int>(code));
}

int ConvertWord(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, bool toUtf8) {
    const char* text = nullptr;
    size_t length = 0;
    if (ruqo_CheckText(interp, argc, argv, 0, &text, &length) != QO_OK) return QO_ERROR;
    const std::string_view bytes(text, length);
    const std::string converted =
        toUtf8 ? qotool::platform::GbkToUtf8(bytes, false) : qotool::platform::Utf8ToGbk(bytes);
    *result = ruqo_ValueText(converted.data(), static_cast<long>(converted.size()));
    return QO_OK;
}

int Utf8Word(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, void*) {
    return ConvertWord(interp, argc, argv, result, true);
}

int GbkWord(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, void*) {
    return ConvertWord(interp, argc, argv, result, false);
}

}  // namespace

void RegisterConsoleWords(Runner& runner) {
    static const struct {
        const char* name;
        QoHostFunction function;
    } kWords[] = {
        {"print", PrintWord}, {"eprint", EprintWord}, {"readline", ReadlineWord},
        {"exit", ExitWord},   {"utf8", Utf8Word},     {"gbk", GbkWord},
    };
    for (const auto& word : kWords) ruqo_RegisterFunction(ruqo_SharedInterp(), word.name, word.function, &runner, nullptr);
}

}  // namespace qol
