// Internals shared by the statement and expression executor's files.
#ifndef QOTOOL_ENGINE_EXECUTOR_H
#define QOTOOL_ENGINE_EXECUTOR_H

#include <cmath>
#include <cstdint>

#include "engine/run_context.h"

class CQoLanguage;
class QoLVarDefine;

namespace qotool::engine {

// Terminator sets: the right operand of an operator stops at every operator
// that binds less tightly.
inline constexpr char kSetA[] = ",)];}&|^?:<!=>-+$";    // after +
inline constexpr char kSetB[] = ",)];}&|^?:<!=>-+";     // after -
inline constexpr char kSetC[] = ",)];}&|^?:<!=>-+*%/$"; // after *, **
inline constexpr char kSetD[] = ",)];}&|^?:<!=>-+*%/";  // after /, %
inline constexpr char kSetE[] = ",)];}&|^?:<!=>";       // after <<, >>, $
inline constexpr char kSetF[] = ",)];}&|^?:";           // after comparisons
inline constexpr char kSetG[] = ",)];}?:";              // after &, |, ^, &&, ||
// Of the prefix operators and signs.
inline constexpr char kTildeSet[] = ",)];}&|^?:<!=>-+*%/";
inline constexpr char kNotSet[] = ",)];}&|^?:-+*%/";
inline constexpr char kSignSet[] = ",)];}&|^?:<!=>-+";

// Integer part of a number as a 32-bit integer (truncation toward zero; a
// number outside the 32-bit range gives the integer indefinite 0x80000000).
inline int32_t ToInt32(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return (int32_t)d;
}

// The statement keywords (any case); None for every other word.
enum class Keyword { None, Break, Continue, Delete, Do, Goto, Private, Public, Return, Remove, SkipError, Try, AskExec };
Keyword KeywordOf(const char* word);

// Reads the number literal at p (decimal, or 0x and hex digits) into *out,
// moving p past it; false where an exponent has no digits (p is then where
// they should be).
bool ScanNumber(char*& p, bool negative, double* out);

// The parts of an if whose then-part starts at thenPart: the else part
// (null when there is none) and the end of the whole statement, which the
// sentence skipper says.
char* IfParts(char* thenPart, char** elsePart);

// A subscript that is a plain integer literal (blanks around it allowed):
// its value and the position of the ',' or ']' after it.
bool PlainSubscript(const char* p, long* value, const char** end);

// Tries the user executors for word (cursor just after its '('); reports
// "执行不认识的函数：%s" when none takes it.
void CallExternal(CQoLanguage* qo, char*& cursor, const char* word);

// The arguments of a call that is only checked (syntax check): each is
// evaluated for its form, up to the call's ')', which is left at the cursor.
// False, with "缺)" reported, when the list ends before it: at ';', '}', the
// end of the text, or anything else that no argument reads.
bool CheckArgumentsToClose(CQoLanguage* qo, char*& cursor);

// Runs the registered executors from the last to the first; true when one
// handled the word.
bool CallUserExecutors(CQoLanguage* qo, char*& cursor, const char* word);

// An assignment `name = ...` whose right side is being read (words.cpp
// keeps one on the stack for that time; the innermost is the one under way).
// When the last thing its right side computes is a '+' of two strings whose
// left part is the very string the variable holds, the sum grows that string
// in place (expression.cpp): nothing runs between that sum and the store.
// Should the store not come (an interrupt ending the run there) the
// variable gets its old length back when this ends.
struct PendingAssignment;
extern thread_local PendingAssignment* t_pendingAssignment QOTOOL_FAST_TLS;

struct PendingAssignment {
    PendingAssignment(CQoLanguage* qo, char*& cursor, const char* name)
        : qo(qo),
          cursor(&cursor),
          name(name),
          depth((short)(qo->m_pRun->catchDepth + 1)),
          bracket(qo->m_pRun->bracketDepth),
          outer(t_pendingAssignment) {
        t_pendingAssignment = this;
    }
    ~PendingAssignment() {
        t_pendingAssignment = outer;
        if (grown) TakeBack();
    }
    PendingAssignment(const PendingAssignment&) = delete;
    PendingAssignment& operator=(const PendingAssignment&) = delete;
    // The store has been made.
    void Stored() { grown = nullptr; }

    CQoLanguage* const qo;
    char** const cursor;  // the cursor the right side is read with
    const char* const name;
    const short depth;    // catch depth inside the right side's activation
    const short bracket;  // its bracket depth
    PendingAssignment* const outer;
    QoLVarDefine* grown = nullptr;  // the variable grown in place, until stored
    const char* grownText = nullptr;
    int lengthBefore = 0;

private:
    void TakeBack() noexcept;  // the grown variable's old length back
};

// The message of a run that could not allocate (std::bad_alloc, or a text
// beyond the string limit): the run fails with it as with any error, and
// the interpreter stays usable.
extern const char kOutOfMemory[];  // "内存资源不足"

}  // namespace qotool::engine

#endif
