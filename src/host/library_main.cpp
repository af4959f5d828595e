// Library load and unload: the constructor and destructor of the shared
// object call the idempotent attach and detach.
#include "builtins/control.h"
#include "builtins/timers.h"
#include "diag/message_log.h"
#include "engine/instance.h"

namespace qotool::host {

namespace {
bool g_attached = false;
}

void Attach() {
    if (g_attached) return;
    g_attached = true;
    qotool::engine::CreateSharedInterpreter();
}

void Detach() {
    if (!g_attached) return;
    g_attached = false;
    // No timer thread may outlive the library's code.
    qotool::builtins::StopAllTimers();
    // The interpreters that scripts created go first, then the shared one.
    qotool::builtins::DestroyCreatedInterpreters();
    qotool::engine::DestroySharedInterpreter();
    qotool::diag::CloseMessageLog();
}

}  // namespace qotool::host

__attribute__((constructor)) static void QoLibraryLoad() { qotool::host::Attach(); }
__attribute__((destructor)) static void QoLibraryUnload() { qotool::host::Detach(); }
