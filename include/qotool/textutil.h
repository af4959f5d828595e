// Text utilities of libqoTool_NoQO.so for hosts. All texts are GBK byte
// strings: a byte >= 0x80 starts a two-byte character.
#ifndef QOTOOL_TEXTUTIL_H
#define QOTOOL_TEXTUTIL_H

#include "qotool/qo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Pattern matching ---------------------------------------------------
//
// Pattern characters: * any run (shortest first), ? one character, # one
// digit, % a run of digits (longest first), ! "the rest does not match",
// \ makes the next character literal, I any one single-byte character, a
// letter also matches a Chinese character whose pinyin starts with it
// (U: any Chinese character outside the symbol rows, V: a full-width symbol),
// ; separates alternatives (tried when the whole pattern fails). Spaces in
// the text are skipped where the pattern has none; letters compare without
// regard to case.
//
// Each feature has a flag, named by its character (* ? # % ! ; I S C N; S:
// space skipping, C: letters matching Chinese characters, N: case folding).
// A pattern ending in " /FLAGS" switches on exactly FLAGS (all of them when
// FLAGS is empty) for this and every later call; " //FLAGS" does so for this
// call only.
//
// Threads: any thread may call them; the standing flags, the recorded index
// and ArrayMatch's result belong to the calling thread.

// Matches text against pattern (null pointers count as empty strings).
// Returns the end offset of the match in text: its length when the pattern
// covers the whole text (trailing spaces allowed), or where a final * or a !
// took over the rest; -1 when it does not match.
// index != 0: the first successful call with a non-zero index records index;
// index == 0 (with a non-empty text): no matching; returns the recorded index
// and clears the record.
// An address that cannot be read shows a message box and gives -1.
QO_API int ruqo_StrMatch(const char* pattern, const char* text, int index);

// Matches each of count rows (writable strings) against pattern and returns
// one character per row examined: '!' no match, '=' a whole-row match with a
// text no earlier matching row had, '<' a match whose final * or ! took the
// rest of the row (new text), '.' a match repeating an earlier matching row.
// Trailing spaces of every matching row are removed in place. Examination
// stops after maxDistinct distinct matching rows (maxDistinct < 1: no limit).
// A negative count is the row count of an interruptible call: it stops at row
// i when the key with virtual-key code i % 256 is down (except at row 16).
// Returns null for count 0, "" for a null pattern; the result stays valid
// until the next call.
QO_API const char* ruqo_ArrayMatch(const char* pattern, char** rows, int count, int maxDistinct);

// The same two functions under their other names (one calling convention on
// x86-64).
QO_API int pf_strMatch(const char* pattern, const char* text, int index);
QO_API const char* pf_arrayMatch(const char* pattern, char** rows, int count, int maxDistinct);

#ifdef __cplusplus
}
#endif

#endif
