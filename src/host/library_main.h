// The library's load and unload steps (run by the shared object's
// constructor and destructor; each runs once however often it is called).
#ifndef QOTOOL_HOST_LIBRARY_MAIN_H
#define QOTOOL_HOST_LIBRARY_MAIN_H

namespace qotool::host {

void Attach();
void Detach();
// Whether the start timer has run (on the first message service of the
// thread that loaded the library).
bool StartTimerHasRun();

}  // namespace qotool::host

#endif
