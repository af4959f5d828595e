" QOL: comments, and :make running the static check (qol --check).
if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1
setlocal commentstring=//\ %s comments=s1:/*,mb:*,ex:*/,://
setlocal makeprg=qol\ --check\ %
setlocal errorformat=%f:%l:%c:\ %trror:\ %m,%f:%l:%c:\ %tarning:\ %m
let b:undo_ftplugin = 'setlocal commentstring< comments< makeprg< errorformat<'
