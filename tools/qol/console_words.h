// The console words the runner gives scripts: host functions of the shared
// interpreter (so a script's own function of the same name wins, and an
// error inside their arguments is the script's own), and a user executor
// for every other interpreter (a thread timer's, a numbered one), where an
// error reads as one of an external extension function:
//   print(a, b, ...)   the arguments' texts, separated by a space, and a
//                      newline on standard output; the value is Z
//   eprint(a, b, ...)  the same on standard error
//   readline()         the next line of standard input without its line end
//                      (S), or Z at the end of the input
//   exit([code])       ends the run and qol with the status code (0 to 255,
//                      default 0); a try does not keep the run going
//   utf8(s)            the GBK text s as UTF-8 bytes (S); a byte with no
//                      UTF-8 form becomes "?"
//   gbk(s)             the UTF-8 bytes s as GBK text (S); a character GBK
//                      lacks, or a byte that is not UTF-8, becomes "?"
// print, eprint and readline convert texts as the runner's other output and
// input do.
#ifndef QOTOOL_TOOLS_QOL_CONSOLE_WORDS_H
#define QOTOOL_TOOLS_QOL_CONSOLE_WORDS_H

#include "runner.h"

namespace qol {

// Registers the console words; runner converts their texts and must outlive
// every run.
void RegisterConsoleWords(Runner& runner);

}  // namespace qol

#endif
