// Letter lists of the pattern matcher: the pinyin initial of each GBK
// two-byte character that has a Mandarin reading. The table is generated
// (tools/gen/gen_letter_lists.cpp) and committed as letter_lists.inc.
#ifndef QOTOOL_TEXTUTIL_LETTER_LISTS_H
#define QOTOOL_TEXTUTIL_LETTER_LISTS_H

namespace qotool::textutil {

// The initial 'A'..'Z' of the two-byte character lead/trail, or 0 when it
// has no reading. Never 'I', 'U' or 'V': those lists are empty.
char PinyinInitial(unsigned char lead, unsigned char trail);

// Whether the character is in the list of letter (an upper-case 'A'..'Z').
inline bool InLetterList(char letter, unsigned char lead, unsigned char trail) {
    return letter != 0 && PinyinInitial(lead, trail) == letter;
}

}  // namespace qotool::textutil

#endif
