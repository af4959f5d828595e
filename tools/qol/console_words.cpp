#include "console_words.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <strings.h>

#include "platform/encoding.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

Runner* g_runner = nullptr;

void SkipBlanks(char*& cursor) {
    while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n') ++cursor;
}

constexpr int kTextsPerRead = 16;

// Reads every argument as text; false after an argument error (the value is
// then the error). Arguments are read 16 at a time: a syntax check lets an
// external word read its arguments once, so most calls need just one read.
bool ReadTexts(CQoLanguage* qo, char*& cursor, std::string& joined) {
    std::string format;
    for (int i = 0; i < kTextsPerRead; ++i) format += "?v";
    bool first = true;
    for (bool fresh = true;; fresh = false) {
        QoText t[kTextsPerRead] = {};
        // The first read starts a new argument list (which also lets the
        // library drop the texts of earlier calls); later ones continue it.
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
        SkipBlanks(cursor);
        if (*cursor == ')' || *cursor == 0) return ruqo_ReadPara(qo, 'Z', &cursor, "", nullptr) == QO_OK;
    }
}

void Write(FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// exit([code]): code 0 to 255, 0 when omitted.
char Exit(CQoLanguage* qo, char*& cursor) {
    QoText given = {};
    if (ruqo_ReadPara(qo, 'Z', &cursor, "?r", &given, nullptr) != QO_OK || qo->m_bSyntaxCheck) return 1;
    int code = 0;
    if (given.data) {
        const std::string_view text(given.data, given.length);  // "T:value"
        char* end = nullptr;
        const double number = text[0] == 'N' ? std::strtod(given.data + 2, &end) : -1;
        if (number < 0 || number > 255 || number != (int)number || end != given.data + given.length) {
            const std::string message = std::string("exit()的参数应是0到255的整数，不是") + text[0] + "型数据(" +
                                        std::string(text.substr(2)) + ")";
            ruqo_SetValueError(qo, message.c_str());
            return 1;
        }
        code = (int)number;
    }
    g_runner->RequestExit(code);
    return 1;
}

char ConsoleExecutor(char** cursorPointer, const char* word, CQoLanguage* qo) {
    char*& cursor = *cursorPointer;
    const bool toError = strcasecmp(word, "eprint") == 0;
    if (toError || strcasecmp(word, "print") == 0) {
        std::string joined;
        // A syntax check only reads the arguments.
        if (ReadTexts(qo, cursor, joined) && !qo->m_bSyntaxCheck) {
            std::fflush(toError ? stdout : stderr);
            Write(toError ? stderr : stdout, g_runner->ToOutput(joined) + "\n");
        }
        return 1;
    }
    if (strcasecmp(word, "readline") == 0) {
        if (ruqo_ReadPara(qo, 'Z', &cursor, "", nullptr) != QO_OK || qo->m_bSyntaxCheck) return 1;
        std::string line;
        int c = 0;
        while ((c = std::getc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) return 1;  // the end of the input: Z
        if (!line.empty() && line.back() == '\r') line.pop_back();
        static int lineNumber = 0;  // of standard input, as readline reads it
        static const std::string kInput = u8"<stdin>";
        const std::string gbk = g_runner->ToGbk(line, false, &kInput, ++lineNumber);
        ruqo_SetValueText(qo, gbk.data(), static_cast<long>(gbk.size()));
        return 1;
    }
    if (strcasecmp(word, "exit") == 0) return Exit(qo, cursor);
    const bool toUtf8 = strcasecmp(word, "utf8") == 0;
    if (toUtf8 || strcasecmp(word, "gbk") == 0) {
        QoText text = {};
        if (ruqo_ReadPara(qo, 'S', &cursor, "%s", &text, nullptr) != QO_OK || qo->m_bSyntaxCheck) return 1;
        const std::string_view bytes(text.data, text.length);
        const std::string converted = toUtf8 ? qotool::platform::GbkToUtf8(bytes, false)
                                             : qotool::platform::Utf8ToGbk(bytes);
        ruqo_SetValueText(qo, converted.data(), static_cast<long>(converted.size()));
        return 1;
    }
    return 0;
}

}  // namespace

void RegisterConsoleWords(Runner& runner) {
    g_runner = &runner;
    ruqo_UserQolExecutor("qol_console", '+', reinterpret_cast<intptr_t>(&ConsoleExecutor));
}

}  // namespace qol
