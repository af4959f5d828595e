// The string built-ins. Each handler starts with the cursor just after the
// call's '(' and leaves its result in the interpreter's value; most stop
// before the closing ')' and leave it to the executor. A handler that needs
// a ',' and finds none leaves the value type 'f' ("函数缺参数").
//
// Wiring, by dispatch key; names in bucket order -> handler (names compare
// without regard to case):
//
//   as   asc2 -> Asc2, asc -> Asc                (after asin)
//   ch   chr -> Chr                              (before Check)
//   fi   find, findr, findn, findt               (after the File... row)
//        prefix test "find" (4 characters), then the word must end there
//        (-> Find) or have exactly one more letter: r/R -> FindR,
//        n/N -> FindN, t/T -> FindT; any other word starting with "find"
//        is none of these names
//   in   in -> In, in2 -> In2                    (before int)
//   is   IsDoubleByte -> IsDoubleByte            (before is)
//   le   left -> Left, len -> Len
//   lo   lower -> Lower                          (after LoadLibrary, LoadFunction, log, log10)
//   ma   MacroReplace -> MacroReplace, match -> Match   (before max)
//   mi   mid -> Mid                              (before min)
//   re   replace -> Replace, replace2 -> Replace2       (after RegRead, before report)
//   ri   right -> Right
//   ru   ruqo_SectionCut -> RuqoSectionCut, ruqo_MatchCut -> RuqoMatchCut
//        after the prefix test "ruqo_" (5 characters)
//   st   strcut -> StrCut, stuff -> Stuff        (after str, str0)
//   te   termform -> TermForm
//   tr   triml -> TrimL, trimr -> TrimR
//   up   upper -> Upper
//
// Strings() does the same name tests for all of them: it runs the handler
// of word and answers Value, or None when word is none of these names.
#ifndef QOTOOL_BUILTINS_STRINGS_H
#define QOTOOL_BUILTINS_STRINGS_H

#include "engine/builtin_hook.h"

class CQoLanguage;

namespace qotool::builtins {

using Handler = void (*)(CQoLanguage* qo, char*& cursor, const char* word);

void Asc(CQoLanguage* qo, char*& cursor, const char* word);
void Asc2(CQoLanguage* qo, char*& cursor, const char* word);
void Chr(CQoLanguage* qo, char*& cursor, const char* word);
void Len(CQoLanguage* qo, char*& cursor, const char* word);
void Left(CQoLanguage* qo, char*& cursor, const char* word);
void Right(CQoLanguage* qo, char*& cursor, const char* word);
void Mid(CQoLanguage* qo, char*& cursor, const char* word);
void Upper(CQoLanguage* qo, char*& cursor, const char* word);
void Lower(CQoLanguage* qo, char*& cursor, const char* word);
void TrimL(CQoLanguage* qo, char*& cursor, const char* word);
void TrimR(CQoLanguage* qo, char*& cursor, const char* word);
void Find(CQoLanguage* qo, char*& cursor, const char* word);
void FindR(CQoLanguage* qo, char*& cursor, const char* word);
void FindN(CQoLanguage* qo, char*& cursor, const char* word);
void FindT(CQoLanguage* qo, char*& cursor, const char* word);
void In(CQoLanguage* qo, char*& cursor, const char* word);
void In2(CQoLanguage* qo, char*& cursor, const char* word);
void IsDoubleByte(CQoLanguage* qo, char*& cursor, const char* word);
void Match(CQoLanguage* qo, char*& cursor, const char* word);
void MacroReplace(CQoLanguage* qo, char*& cursor, const char* word);
void Replace(CQoLanguage* qo, char*& cursor, const char* word);
void Replace2(CQoLanguage* qo, char*& cursor, const char* word);
void Stuff(CQoLanguage* qo, char*& cursor, const char* word);
void StrCut(CQoLanguage* qo, char*& cursor, const char* word);
void TermForm(CQoLanguage* qo, char*& cursor, const char* word);
void RuqoSectionCut(CQoLanguage* qo, char*& cursor, const char* word);
void RuqoMatchCut(CQoLanguage* qo, char*& cursor, const char* word);

// The handler of word among the string built-ins, or null.
Handler StringHandler(const char* word);

// Runs the string built-in named word; None when word is none of them.
engine::Dispatched Strings(CQoLanguage* qo, char*& cursor, const char* word);

}  // namespace qotool::builtins

#endif
