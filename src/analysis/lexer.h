// The tokens of QOL text, read by the scanner's own rules: blanks are the
// bytes 1 to 32, comments are "//" to the line feed and "/* */", a word is a
// run of the bytes the word reader accepts (byte by byte, as the reader
// does, so a GBK trail byte such as 0x5C ends a word), "::" joins word
// pieces, string literals end at their quote with backslash escapes passed
// over, and a zero byte ends the text. Every other byte is a one-byte
// punctuation token.
#ifndef QOTOOL_ANALYSIS_LEXER_H
#define QOTOOL_ANALYSIS_LEXER_H

#include <cstdint>
#include <string_view>
#include <vector>

namespace qotool::analysis {

enum class TokenKind : uint8_t { kWord, kNumber, kString, kPunct, kEnd };

enum TokenFlags : uint8_t {
    kUnterminated = 0x01,  // a string literal or block comment left open
    kMacro = 0x02,         // a word composed with a %[...] macro: its name is known only at run time
};

struct Token {
    TokenKind kind;
    uint8_t flags;
    uint32_t offset;  // byte offset in the text
    uint32_t length;
};

// Something the reading itself noticed.
enum class LexNote : uint8_t {
    kOpenString,         // a literal that a line ending in ';' leaves open (the interpreter refuses it)
    kOpenStringAtEnd,    // a literal that the end of the text closes (the interpreter takes it)
    kOpenComment,        // "/*" without "*/"
    kTrailBackslash,     // inside a literal, a GBK character whose second byte is 0x5C
};

struct LexNoteAt {
    LexNote note;
    uint32_t offset;
};

struct Lexed {
    std::vector<Token> tokens;  // ends with one kEnd token
    std::vector<LexNoteAt> notes;
};

bool IsWordByte(unsigned char c);
Lexed Lex(std::string_view text);

}  // namespace qotool::analysis

#endif
