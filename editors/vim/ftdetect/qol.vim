" QOL scripts: *.qol files, and scripts whose first line runs qol.
autocmd BufRead,BufNewFile *.qol,*.QOL setfiletype qol
autocmd BufRead,BufNewFile * if getline(1) =~# '^#!.*\<qol\>' | setfiletype qol | endif
