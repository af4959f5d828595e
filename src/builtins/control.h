// Interpreter control built-ins: run text in other interpreters, create and
// release interpreters, find interpreter handles, check a block for syntax
// errors, read and change interpreter settings.
//
// Every handler starts with the cursor just after the call's '(' and leaves
// its result in the interpreter's value; a ')' it leaves in place is
// consumed by the executor after it (see builtins.h).
//
// Wiring into the two-letter dispatch (key: names in bucket order -> handler;
// names compared without regard to case):
//
//   bi  BindTableBuffer                                -> BindTableBuffer
//   do  docmd                                          -> DoCmd
//   er  ErrorCheck                                     -> ErrorCheck
//   ge  get                                            -> Get
//   qo  prefix test "qol" (3 characters), then
//       QolCreate, QolRelease, QolRun, QolHandle       -> QolCreate, QolRelease, QolRun, QolHandle
//   re  RegRead (system), replace, replace2 (strings),
//       report                                         -> Report
//   se  set, SearchFileByPath (system)                 -> Set
//
// The interaction built-ins (Check, EditData, MessageBox, MessageLog,
// PromptText) are listed in interaction.h.
//
// Interpreter handles are the full address of the CQoLanguage object as a
// number (never cut to 32 bits); a number read back as a handle keeps its
// 32-bit form when it fits in 32 bits and is taken whole otherwise.
#ifndef QOTOOL_BUILTINS_CONTROL_H
#define QOTOOL_BUILTINS_CONTROL_H

#include <cstdint>
#include <vector>

class CQoLanguage;
class CString;

namespace qotool::builtins {

// BindTableBuffer(name): 1 when a table buffer name is now bound, else 0.
void BindTableBuffer(CQoLanguage* qo, char*& cursor, const char* word);
// docmd(kind [, text]): Do(kind, text) on this interpreter.
void DoCmd(CQoLanguage* qo, char*& cursor, const char* word);
// QolCreate(flags): a new interpreter's handle. Flags: 0x01 copy the
// platform link, 0x02 the trace flags, 0x04 the syntax-check flag, 0x08 the
// mode flags.
// During a syntax check nothing that outlives the check changes: an
// interpreter created in a check checks too, QolRun only runs into checking
// interpreters (a temporary one checks its block; anything else gives '?'),
// and QolRelease only destroys checking interpreters.
void QolCreate(CQoLanguage* qo, char*& cursor, const char* word);
// QolRelease(handle): destroys an interpreter that QolCreate made.
void QolRelease(CQoLanguage* qo, char*& cursor, const char* word);
// QolRun(handle; name=expression, ...){block}: runs the block in another
// interpreter (a temporary one for handle 0) after assigning the values;
// the block's value comes back, an error as its text (type S).
void QolRun(CQoLanguage* qo, char*& cursor, const char* word);
// QolHandle([n]): -1 (or nothing) this interpreter, 0 the depth of the
// entry stack, n the interpreter of entry n (1 the oldest), n < -1 counted
// from the top; 0 outside the stack.
void QolHandle(CQoLanguage* qo, char*& cursor, const char* word);
// ErrorCheck([mode]){block}: syntax check of the block (engine/syntax_check.h).
void ErrorCheck(CQoLanguage* qo, char*& cursor, const char* word);
// get(item, ...): settings and state.
void Get(CQoLanguage* qo, char*& cursor, const char* word);
// report(item): QOL text that restores the variables.
void Report(CQoLanguage* qo, char*& cursor, const char* word);
// set(option): error skip / error output / pause key on or off.
void Set(CQoLanguage* qo, char*& cursor, const char* word);

// ---- interpreter handles ----

// The handle of an interpreter as a script sees it, and back.
double HandleNumber(const CQoLanguage* qo);
uintptr_t HandleFromNumber(double number);

// The interpreters QolCreate made and QolRelease has not destroyed yet, in
// creation order.
const std::vector<CQoLanguage*>& CreatedInterpreters();
// Destroys them all (at library unload).
void DestroyCreatedInterpreters();

// A syntax check of text on qo (engine::RunSyntaxCheck), after which the
// interpreters QolCreate made during the check and the check did not
// release are destroyed: nothing a check makes outlives it. Every check
// runs here (ErrorCheck, the host's ruqo_CheckSyntax).
CString RunCheck(CQoLanguage* qo, const CString& text, unsigned char mode);

// The process-wide entry stack: its depth, and the interpreter of entry n
// (1 the oldest) or null.
int EntryStackDepth();
CQoLanguage* EntryStackInterpreter(int n);

}  // namespace qotool::builtins

#endif
