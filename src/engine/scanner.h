// Source scanning: blanks and comments, words, string literals, skipping
// sentences and expressions without executing them.
#ifndef QOTOOL_ENGINE_SCANNER_H
#define QOTOOL_ENGINE_SCANNER_H

#include <cstdint>

#include "qotool/cstring.h"

namespace qotool::engine {

// Byte classes, one table lookup per byte.
extern const uint8_t kByteClass[256];
enum : uint8_t { kBlank = 1, kWordChar = 2, kDigit = 4, kHexDigit = 8, kSentenceSpecial = 16 };

inline bool IsBlank(char c) { return (unsigned char)(c - 1) < 32; }
inline bool IsWordChar(char c) { return kByteClass[(unsigned char)c] & kWordChar; }
inline bool IsDigitChar(char c) { return (unsigned char)(c - '0') < 10; }

void SkipCommentsFrom(char*& cursor);

// Skips blanks (bytes 1..32) and // and /* */ comments.
inline void SkipBlanks(char*& cursor) {
    char* p = cursor;
    while (IsBlank(*p)) ++p;
    cursor = p;
    if (*p == '/' && (p[1] == '/' || p[1] == '*')) SkipCommentsFrom(cursor);
}
inline void SkipBlanks(const char*& cursor) {
    char* p = const_cast<char*>(cursor);
    SkipBlanks(p);
    cursor = p;
}
// Moves one byte on (not past the end) and skips blanks and comments.
inline void SkipOne(char*& cursor) {
    if (*cursor) ++cursor;
    SkipBlanks(cursor);
}

// Copies at most 80 word characters from cursor into out (zero-terminated)
// and returns their count; the cursor is not moved.
int ScanWordChars(const char* cursor, char* out);

// Skips an expression without evaluating it, up to `closing` (0, ')', ']',
// ':' or '?').
void SkipExpression(char*& cursor, char closing);

// ruqo_SkipSentence(text, stopAtEnd), answered from this thread's memo of
// recent skips when the bytes the skip read (from text to a little past the
// end it found) are still exactly the same, whoever wrote them; no memo
// under QO_NOCACHE.
char* SkipSentenceMemo(char* text, char stopAtEnd);

// ruqo_SkipSentence(text, 0) for loops that pass sentence after sentence
// over: where the skipper cannot move (a stray ']' closes nothing), the
// character there is passed over instead, so such a loop always ends.
char* SkipSentenceMovingOn(char* text);

// True when text at position starts with keyword (any case), the byte
// before it is a blank or ';' (or position is the text start), and '('
// follows after blanks and comments.
bool KeywordWithBracket(const char* textStart, const char* position, const char* keyword);

// Case-insensitive ASCII prefix test.
bool StartsWithNoCase(const char* text, const char* prefix);

}  // namespace qotool::engine

#endif
