// The built-in function groups. The dispatch (dispatch.cpp) switches on the
// word's two-letter key and offers the word to the groups of that key in the
// bucket order; a group compares the word with its own names of that key
// (without regard to case), runs the handler and answers Value (Statement
// when nothing written after the call applies to its result), or None when
// the word is none of its names.
//
// A handler starts with the cursor just after the call's '('. It leaves its
// result in the interpreter's value; it may stop before the closing ')',
// which the executor then consumes. A handler that needs a ',' and finds
// none leaves the value type 'f', which the dispatch turns into the error
// "函数缺参数".
#ifndef QOTOOL_BUILTINS_BUILTINS_H
#define QOTOOL_BUILTINS_BUILTINS_H

#include <ctime>

#include "engine/builtin_hook.h"

class CQoLanguage;

namespace qotool::builtins {

using engine::Dispatched;

// abs acos asin atan atan2 cos sin tan exp log log10 sqrt int sign max min
// limit rand clock RGB decimal convert str str0 val val0 val2 Type range is
Dispatched Numeric(CQoLanguage* qo, char*& cursor, const char* word);

// time TimeVal
Dispatched Dates(CQoLanguage* qo, char*& cursor, const char* word);

// Date values: days since 1899-12-30, the fraction the time of day; before
// that day the whole part counts back while the fraction still counts
// forward from midnight (-1.25 is 1899-12-29 06:00). Years 100 to 9999.
// A date value from calendar fields; false when they are not a valid date
// and time.
bool DateFromFields(int year, int month, int day, int hour, int minute, int second, double* date);
// Calendar fields of a date value rounded to the second (tm_isdst -1); false
// outside the years 100 to 9999.
bool FieldsFromDate(double date, struct tm* out);
// The current local date and time (TZ honoured), to the second.
double CurrentDate();

}  // namespace qotool::builtins

#endif
