// Numbers kept beside the text of variable records, so that reading a
// numeric variable does not parse its text each time. The text stays the
// value: a kept number is used only while the record's text holds exactly the
// bytes it was read from.
#ifndef QOTOOL_ENGINE_NUMBER_MEMO_H
#define QOTOOL_ENGINE_NUMBER_MEMO_H

#include "qotool/qolvardefine.h"

namespace qotool::engine {

// True when the environment variable QO_NOCACHE was set to a non-empty value
// other than "0" when first asked: the interpreter then keeps no caches and
// works from the texts alone (for differential tests).
bool CachesOff();

// The number the record's text reads as (the text's leading decimal number,
// 0 when none).
double RecordNumber(const QoLVarDefine* record);

// Notes that the record's text, just written as text[0..length), reads as
// number.
void KeepNumber(const QoLVarDefine* record, const char* text, int length, double number);

}  // namespace qotool::engine

#endif
