#include "console_words.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <strings.h>

#include "platform/encoding.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
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
    case 'S':
        if (value.text) out.append(value.text, static_cast<size_t>(value.length));
        break;
    case 'P':
        out += std::to_string(value.pointer);
        if (value.extType) out += value.extType;
        break;
    default: break;
    }
}

// The words' work, whichever way they were called.

void WriteLine(const Runner& runner, FILE* stream, const std::string& gbk) {
    const std::string out = runner.ToOutput(gbk) + "\n";
    std::fflush(stream == stderr ? stdout : stderr);
    std::fwrite(out.data(), 1, out.size(), stream);
    std::fflush(stream);
}

// The next line of standard input as GBK; false at the end of the input.
bool ReadLine(const Runner& runner, std::string& gbk) {
    static int lineNumber = 0;  // of standard input, as readline reads it
    static const std::string kInput = u8"<stdin>";
    std::string line;
    int c = 0;
    while ((c = std::getc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    gbk = runner.ToGbk(line, false, &kInput, ++lineNumber);
    return true;
}

std::string Convert(std::string_view bytes, bool toUtf8) {
    return toUtf8 ? qotool::platform::GbkToUtf8(bytes, false) : qotool::platform::Utf8ToGbk(bytes);
}

// exit's code; false with message set when it is no whole number 0..255.
bool ExitCode(double code, std::string& message) {
    if (code >= 0 && code <= 255 && code == std::floor(code)) return true;
    std::string given;
    AppendText(ruqo_ValueNumber(code), given);
    message = "exit()的参数应是0到255的整数，不是N型数据(" + given + ")";
    return false;
}

// ---- as host functions of the shared interpreter ----

// print and eprint: the arguments' texts joined by a space, and a newline.
int Print(FILE* stream, int argc, const QoValue* argv, void* userData) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) joined += ' ';
        AppendText(argv[i], joined);
    }
    WriteLine(RunnerOf(userData), stream, joined);
    return QO_OK;
}

int PrintWord(QoInterp*, int argc, const QoValue* argv, QoValue*, void* userData) {
    return Print(stdout, argc, argv, userData);
}

int EprintWord(QoInterp*, int argc, const QoValue* argv, QoValue*, void* userData) {
    return Print(stderr, argc, argv, userData);
}

int ReadlineWord(QoInterp*, int, const QoValue*, QoValue* result, void* userData) {
    std::string gbk;
    if (ReadLine(RunnerOf(userData), gbk)) *result = ruqo_ValueText(gbk.data(), static_cast<long>(gbk.size()));
    return QO_OK;  // Z at the end of the input
}

// exit([code]): the runner ends the run and then itself. The error unwinds
// the run at once; a try that catches it still ends with the run.
int ExitWord(QoInterp* interp, int argc, const QoValue* argv, QoValue*, void* userData) {
    double code = 0;
    if (argc > 0 && ruqo_CheckNumber(interp, argc, argv, 0, &code) != QO_OK) return QO_ERROR;
    std::string message;
    if (!ExitCode(code, message)) return ruqo_Error(interp, "%s", message.c_str());
    RunnerOf(userData).RequestExit(static_cast<int>(code));
    return ruqo_Error(interp, "exit(%d)", static_cast<int>(code));
}

int ConvertWord(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, bool toUtf8) {
    const char* text = nullptr;
    size_t length = 0;
    if (ruqo_CheckText(interp, argc, argv, 0, &text, &length) != QO_OK) return QO_ERROR;
    const std::string converted = Convert(std::string_view(text, length), toUtf8);
    *result = ruqo_ValueText(converted.data(), static_cast<long>(converted.size()));
    return QO_OK;
}

int Utf8Word(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, void*) {
    return ConvertWord(interp, argc, argv, result, true);
}

int GbkWord(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, void*) {
    return ConvertWord(interp, argc, argv, result, false);
}

// ---- as a user executor, for the other interpreters ----
// (those a script or a thread timer makes, and the numbered ones)

Runner* g_runner = nullptr;

constexpr int kTextsPerRead = 16;

// Reads every argument as text; false after an argument error (the value is
// then the error). Arguments are read 16 at a time.
bool ReadTexts(CQoLanguage* qo, char*& cursor, std::string& joined) {
    std::string format;
    for (int i = 0; i < kTextsPerRead; ++i) format += "?v";
    bool first = true;
    for (bool fresh = true;; fresh = false) {
        QoText t[kTextsPerRead] = {};
        // The first read starts a new argument list; later ones continue it.
        if (ruqo_ReadPara(qo, fresh ? 'Z' : 'z', &cursor, format.c_str(), &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                          &t[7], &t[8], &t[9], &t[10], &t[11], &t[12], &t[13], &t[14], &t[15], nullptr) != QO_OK)
            return false;
        int reached = 0;
        for (int i = 0; i < kTextsPerRead; ++i) {
            if (!t[i].data) continue;
            if (!first) joined += ' ';
            joined.append(t[i].data, t[i].length);
            first = false;
            reached = i + 1;
        }
        if (reached < kTextsPerRead) return true;  // the ')' is consumed
        while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n') ++cursor;
        if (*cursor == ')' || *cursor == 0) return ruqo_ReadPara(qo, 'Z', &cursor, "", nullptr) == QO_OK;
    }
}

char ConsoleExecutor(char** cursorPointer, const char* word, CQoLanguage* qo) {
    char*& cursor = *cursorPointer;
    const Runner& runner = *g_runner;
    const bool toError = strcasecmp(word, "eprint") == 0;
    if (toError || strcasecmp(word, "print") == 0) {
        std::string joined;
        if (ReadTexts(qo, cursor, joined) && !qo->m_bSyntaxCheck) WriteLine(runner, toError ? stderr : stdout, joined);
        return 1;
    }
    if (strcasecmp(word, "readline") == 0) {
        std::string gbk;
        if (ruqo_ReadPara(qo, 'Z', &cursor, "", nullptr) == QO_OK && !qo->m_bSyntaxCheck && ReadLine(runner, gbk))
            ruqo_SetValueText(qo, gbk.data(), static_cast<long>(gbk.size()));
        return 1;
    }
    const bool toUtf8 = strcasecmp(word, "utf8") == 0;
    if (toUtf8 || strcasecmp(word, "gbk") == 0) {
        QoText text = {};
        if (ruqo_ReadPara(qo, 'S', &cursor, "%s", &text, nullptr) == QO_OK && !qo->m_bSyntaxCheck) {
            const std::string converted = Convert(std::string_view(text.data, text.length), toUtf8);
            ruqo_SetValueText(qo, converted.data(), static_cast<long>(converted.size()));
        }
        return 1;
    }
    if (strcasecmp(word, "exit") == 0) {
        double code = 0;
        std::string message;
        if (ruqo_ReadPara(qo, 'Z', &cursor, "?g", &code, nullptr) != QO_OK || qo->m_bSyntaxCheck) return 1;
        if (!ExitCode(code, message)) {
            ruqo_SetValueError(qo, message.c_str());
            return 1;
        }
        g_runner->RequestExit(static_cast<int>(code));
        ruqo_SetValueError(qo, ("exit(" + std::to_string(static_cast<int>(code)) + ")").c_str());
        return 1;
    }
    return 0;
}

}  // namespace

void RegisterConsoleWords(Runner& runner) {
    g_runner = &runner;
    ruqo_UserQolExecutor("qol_console", '+', reinterpret_cast<intptr_t>(&ConsoleExecutor));
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
