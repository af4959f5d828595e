" Vim syntax file for QOL. Keywords and built-in names are matched without
" regard to case, as the interpreter matches them; variable names keep theirs.
if exists('b:current_syntax')
  finish
endif
syntax case ignore

syntax keyword qolConditional if else switch case default
syntax keyword qolRepeat while do for
syntax keyword qolStatement break continue return goto try catch SkipError AskExec private public delete remove
syntax keyword qolConstant NULL PI true false
syntax keyword qolBuiltin abs acos asin atan atan2 cos sin tan exp log log10 sqrt int sign max min limit rand clock
syntax keyword qolBuiltin RGB decimal convert str str0 val val0 val2 time TimeVal Type range is
syntax keyword qolBuiltin asc asc2 chr len left right mid upper lower triml trimr find findr findn findt in in2
syntax keyword qolBuiltin IsDoubleByte match MacroReplace replace replace2 stuff strcut termform ruqo_SectionCut ruqo_MatchCut
syntax keyword qolBuiltin BindTableBuffer Check docmd QolCreate QolRelease QolRun QolHandle EditData ErrorCheck get
syntax keyword qolBuiltin MessageBox MessageLog PromptText report set
syntax keyword qolBuiltin Beep Clipboard DirAdd DirDel DirSet DirGet exec ExecWait ExecWaitProcess ExecWait2 ExecWaitWindow ExecKill
syntax keyword qolBuiltin FileRead FileWrite FileDelete FileRename FileReadonly FileAccess PlaySound RegRead SearchFileByPath SpyKey
syntax keyword qolBuiltin CallDll LoadLibrary LoadFunction FreeLibrary MemBuffer MemInt MemStr MemRead MemWrite timeropen timerclose
syntax keyword qolBuiltin print eprint readline exit
syntax match qolNative "\<Dll::[A-Za-z0-9_.]*\(::[A-Za-z0-9_.]*\)\?"
syntax match qolTable "\<Array::[A-Za-z0-9_]*\.[A-Za-z]*"
syntax match qolSystemVariable "\<system_\w*"

syntax case match
syntax match qolNumber "\<0[xX]\x\+\>"
syntax match qolNumber "\<\d\+\(\.\d*\)\=\([eE][-+]\=\d\+\)\=\>"
syntax match qolNumber "\.\d\+\([eE][-+]\=\d\+\)\=\>"
syntax match qolEscape contained "\\\(x\x\x\|.\)"
syntax region qolString start=+"+ skip=+\\.+ end=+"+ contains=qolEscape,qolMacro
syntax region qolString start=+'+ skip=+\\.+ end=+'+ contains=qolEscape,qolMacro
syntax match qolMacro contained "%\[[^\]]*\]"
syntax match qolLabel "^\s*#\w\+:\ze\([^:]\|$\)"
syntax match qolLabel "[;{]\s*\zs#\w\+:\ze\([^:]\|$\)"
syntax match qolFunction "#\w\+\ze\s*("
syntax match qolInclude "#include\>"
syntax match qolMarker "\(^\|[;{]\)\s*\zs\(??\|?(\@=\|?\|\$\$\|\$\)"
syntax keyword qolTodo contained TODO FIXME XXX
syntax match qolComment "//.*$" contains=qolTodo
syntax region qolComment start="/\*" end="\*/" contains=qolTodo

highlight default link qolConditional Conditional
highlight default link qolRepeat Repeat
highlight default link qolStatement Statement
highlight default link qolConstant Constant
highlight default link qolBuiltin Function
highlight default link qolNative Function
highlight default link qolTable Type
highlight default link qolSystemVariable Identifier
highlight default link qolNumber Number
highlight default link qolString String
highlight default link qolEscape SpecialChar
highlight default link qolMacro Special
highlight default link qolLabel Label
highlight default link qolFunction Function
highlight default link qolInclude Include
highlight default link qolMarker Debug
highlight default link qolTodo Todo
highlight default link qolComment Comment

let b:current_syntax = 'qol'
