// Cutting, replacing and formatting text: key/value lists held in one
// string, sections of a separated list, SQL statements split into clauses,
// numbers as text, and a small name/value store kept as QOL text. All texts
// are GBK byte strings; a null text argument counts as an empty one. None of
// these functions reports errors: what is absent gives the default, the
// empty string, -1 or 0.
#ifndef QOTOOL_TEXTCUT_H
#define QOTOOL_TEXTCUT_H

#include "qotool/qo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

// Byte offset of the first occurrence of sought in text, ASCII letters
// compared without case (never starting on a trail byte); -1 when either
// text is null or empty or sought does not occur.
QO_API int ruqo_FindNoCase(const char* text, const char* sought);

#ifdef __cplusplus
}

#include "qotool/cstring.h"

// Key/value lists: entries joined by delimiter, each the key text followed
// by the value text. A key is found (letter case aside) at the start of the
// list or right after a delimiter; a key written "*key" is found anywhere.

// The value of key (up to the next delimiter, spaces kept), or defaultText.
QO_API CString ruqo_MatchCut(const char* text, const char* key, const char* delimiter, const char* defaultText);
// The list with key's value replaced by value, the entry added at the end
// when key is absent, or the entry removed when value is null.
QO_API CString ruqo_MatchSet(const char* text, const char* key, const char* delimiter, const char* value);

// The number-th section of text (1-based; below 2 means the first) between
// separators, spaces trimmed; defaultText when text has fewer sections.
QO_API CString ruqo_SectionCut(const char* text, int number, const char* separator, const char* defaultText);

// value with 16 significant digits in the shortest general form ("3",
// "0.5", "1e+20"); with a non-empty first: first + second + the number.
QO_API CString ruqo_NumberToString(double value, const char* first, const char* second);

// text with every occurrence of oldText outside '...' and "..." literals
// replaced by newText. An empty oldText leaves the text as it is; the scan
// stops at a literal that is never closed.
QO_API CString ruqo_ReplaceNoText(const char* text, const char* oldText, const char* newText);

// Splits an SQL statement into clauses at keywords (comma-separated,
// default "SELECT,FROM,WHERE,GROUP BY,ORDER BY,HAVING"; keywords inside
// literals and parentheses are never taken). Returns an array of 2 * count
// pointers, (keyword, clause) per keyword, held in buffer together with the
// keyword texts and a copy of the statement; they stay valid while buffer
// is unchanged. A clause runs in the statement's own text from after its
// keyword to the next keyword found; a keyword not found has the clause "".
// count receives the number of keywords.
QO_API const char** ruqo_BreakSql(const char* statement, int& count, CString& buffer, const char* keywords);

// A name/value store kept as QOL text (statements that define variables).
// With a null value: the variable's value as text ("" when it does not
// exist). Otherwise the variable becomes the string value (an empty value
// removes it), property is rewritten as the QOL text of all the store's
// variables, and the value written is returned.
QO_API CString ruqo_CombPropertyStr(CString& property, const char* name, const char* value);
// The same for numbers: the value 1e+308 reads (0 when the variable does not
// exist), 0 removes the variable, any other number is stored and returned.
QO_API double ruqo_CombPropertyVal(CString& property, const char* name, double value);

#endif

#endif
