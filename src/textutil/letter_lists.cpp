#include "textutil/letter_lists.h"

namespace qotool::textutil {

namespace {
#include "textutil/letter_lists.inc"

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40, kLastTrail = 0xFE;
static_assert(sizeof kLetterRows / sizeof kLetterRows[0] == kLastLead - kFirstLead + 1);
}  // namespace

char PinyinInitial(unsigned char lead, unsigned char trail) {
    if (lead < kFirstLead || lead > kLastLead || trail < kFirstTrail || trail > kLastTrail) return 0;
    const char* row = kLetterRows[lead - kFirstLead];
    if (!row) return 0;
    char initial = row[trail - kFirstTrail];
    return initial == ' ' ? 0 : initial;
}

}  // namespace qotool::textutil
