// System, file and process built-ins: Beep, Clipboard, DirAdd, DirDel,
// DirSet, DirGet, exec, ExecWait, ExecWaitProcess, ExecWait2,
// ExecWaitWindow, ExecKill, FileRead, FileWrite, FileDelete, FileRename,
// FileReadonly, FileAccess, PlaySound, RegRead, SearchFileByPath, SpyKey.
//
// Wiring into the two-letter dispatch (key: names in bucket order; names
// compared without regard to case):
//
//   be  Beep
//   cl  clock (numeric), Clipboard
//   di  prefix test "Dir", then DirAdd, DirDel, DirSet, DirGet
//   ex  exp (numeric), exec, ExecWait, ExecWaitProcess, ExecWaitWindow,
//       ExecKill, ExecWait2
//   fi  prefix test "File", then the rest compared with Read, Write,
//       Delete, Rename, Readonly, Access; then find... (strings)
//   pl  PlaySound
//   re  RegRead, then replace, replace2 (strings), report (control)
//   se  set (control), SearchFileByPath
//   sp  SpyKey
//
// In a syntax check none of them touches the system. File names pass the
// path macro replacement (include/qotool/paths.h) first.
#ifndef QOTOOL_BUILTINS_SYSTEM_H
#define QOTOOL_BUILTINS_SYSTEM_H

#include "builtins/builtins.h"

namespace qotool::builtins {

// Runs the system built-in named word; None when word is not one.
Dispatched System(CQoLanguage* qo, char*& cursor, const char* word);

// The virtual-key code of a SpyKey name (upper case), or -1.
int KeyCodeOfName(const char* upperName);

// ruqo_ExecWithMsg: waits for (kill mode: closes and ends) a process or the
// process of a window. Returns the id, window, 0 or 0xFFFFFFFF.
unsigned ExecWithMsg(const char* mode, unsigned id, unsigned flags, int timeoutMs);

}  // namespace qotool::builtins

#endif
