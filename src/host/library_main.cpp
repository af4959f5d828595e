// Library load and unload: the constructor and destructor of the shared
// object call the idempotent attach and detach. Attach registers the
// library as the platform's base module and starts the one-shot start
// timer; detach undoes every step, the start timer first stopped, before
// the library is unmapped.
#include "host/library_main.h"

#include <thread>

#include "builtins/control.h"
#include "builtins/interaction.h"
#include "builtins/timers.h"
#include "diag/message_log.h"
#include "engine/instance.h"
#include "host/command_service.h"
#include "host/host_log.h"
#include "platform/encoding.h"
#include "platform/message_queue.h"
#include "platform/module_handle.h"
#include "platform/module_path.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "qotool/host.h"
#include "qotool/qotool.h"

namespace qotool::host {

namespace {

constexpr char kLibraryModule[] = "QOTOOL_NOQO";
constexpr char kLibraryModuleLeaves[] = "-QOTOOL_NOQO";
constexpr char kStandaloneCreated[] = "创建独立的CWinApp伪应用环境";

bool g_attached = false;
uint64_t g_startTimer = 0;
bool g_started = false;         // the start timer has run in this process
std::thread::id g_startThread;  // the thread whose message loop ran it

// The registry's load problems, as warnings of the message log.
void LogRegistryProblem(const char* message, const char* text1, const char* text2) {
    ruqo_MessageLog(0, 2, message, text1, text2);
}

// Any address inside this library is its handle.
void* LibraryHandle() { return (void*)&LibraryHandle; }

void StartTimerFired(uint64_t) {
    platform::KillThreadTimer(g_startTimer);
    g_startTimer = 0;
    if (g_started) return;
    g_started = true;
    g_startThread = std::this_thread::get_id();
    if (!HasStandaloneApplication()) {
        ruqo_Cmd("VCWINAPP", "+", 0);
        Log(kLogMainResult, kStandaloneCreated);
    }
}

}  // namespace

void Attach() {
    if (g_attached) return;
    g_attached = true;
    platform::SetRegistryReporter(LogRegistryProblem);
    qotool::engine::CreateSharedInterpreter();
    g_startTimer = platform::SetThreadTimer(1, StartTimerFired);
    ruqo_VersionCheck(LibraryHandle(), kLibraryModule);
    const std::string& named = platform::NamedLibraryFile();
    const std::string path = named.empty() ? platform::ModuleFileName(LibraryHandle()) : named;
    ruqo_Cmd("SYSLIB_DIR", platform::IsUtf8WithNonAscii(path) ? platform::Utf8ToGbk(path).c_str() : path.c_str(), 0);
    // Extension-module support of the class library has nothing to set up here.
}

void Detach() {
    if (!g_attached) return;
    g_attached = false;
    // No timer thread may outlive the library's code.
    qotool::builtins::StopAllTimers();
    // The interpreters that scripts created go first.
    qotool::builtins::DestroyCreatedInterpreters();
    ruqo_VersionCheck(LibraryHandle(), kLibraryModuleLeaves);
    ruqo_AllQuit();
    if (g_startTimer) platform::KillThreadTimer(g_startTimer);
    g_startTimer = 0;
    ruqo_Cmd("MAIL>CLOSE", "CLIENT", 0);
    if (qotool::builtins::CurrentPromptState().exists) platform::Ui().PromptDestroy();
    ruqo_Cmd("VCWINAPP", "-", 0);
    qotool::engine::DestroySharedInterpreter();
    platform::SetRegistryReporter(nullptr);
    qotool::diag::CloseMessageLog();
    platform::StopChildReaper();
}

bool StartTimerHasRun() { return g_started; }

}  // namespace qotool::host

__attribute__((constructor)) static void QoLibraryLoad() { qotool::host::Attach(); }
__attribute__((destructor)) static void QoLibraryUnload() { qotool::host::Detach(); }
