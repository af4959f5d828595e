// The fuzzy pattern matcher behind ruqo_StrMatch and ruqo_ArrayMatch
// (include/qotool/textutil.h), for callers inside the library whose texts
// are already in hand, so no address needs probing.
#ifndef QOTOOL_TEXTUTIL_PATTERN_MATCH_H
#define QOTOOL_TEXTUTIL_PATTERN_MATCH_H

#include <cstddef>

namespace qotool::textutil {

// ruqo_StrMatch on patternLength bytes of pattern and textLength bytes of
// text (each also ends at its first zero byte; null is empty). Uses and
// changes the same process-wide options and first-match record.
int MatchPattern(const char* pattern, size_t patternLength, const char* text, size_t textLength, int index);

}  // namespace qotool::textutil

#endif
