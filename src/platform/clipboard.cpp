#include "platform/clipboard.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/encoding.h"
#include "platform/processes.h"
#include "platform/host_devices.h"

extern char** environ;

namespace qotool::platform {

namespace {

std::atomic<const ClipboardProvider*> g_provider{nullptr};

std::mutex g_localLock;
std::string& LocalText() {
    static std::string* text = new std::string();
    return *text;
}

struct Tool {
    const char* display;  // the variable that names the display
    std::vector<const char*> read, write;
};

// Never destroyed: timer threads may still use the clipboard while the
// process exits.
const std::vector<Tool>& Tools() {
    static const std::vector<Tool>* tools = new std::vector<Tool>{
        {"WAYLAND_DISPLAY", {"wl-paste", "-n", "-t", "text"}, {"wl-copy"}},
        {"DISPLAY", {"xclip", "-selection", "clipboard", "-o"}, {"xclip", "-selection", "clipboard", "-i"}},
        {"DISPLAY", {"xsel", "-b", "-o"}, {"xsel", "-b", "-i"}},
    };
    return *tools;
}

// The desktop tool for this session, or null.
const Tool* DesktopTool() {
    for (const Tool& tool : Tools()) {
        const char* display = getenv(tool.display);
        if (display && *display && !FindOnPath(tool.read[0]).empty()) return &tool;
    }
    return nullptr;
}

// Runs argv with input on its standard input and its standard output
// collected; true when it exits with 0.
bool Run(const std::vector<const char*>& command, const std::string* input, std::string* output) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    CloseInheritedDescriptors(actions);
    std::vector<char*> argv;
    for (const char* a : command) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    pid_t child;
    const int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (error != 0) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    if (input) {
        size_t done = 0;
        while (done < input->size()) {
            const ssize_t n = write(in[1], input->data() + done, input->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += (size_t)n;
        }
    }
    close(in[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output) output->append(buffer, (size_t)n);
    }
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool ReadClipboardText(std::string& text) {
    text.clear();
    if (bool ok; HostClipboardRead(text, ok)) return ok;
    const ClipboardProvider* p = g_provider.load(std::memory_order_acquire);
    if (p && p->read) return p->read(&text);
    if (const Tool* tool = DesktopTool()) {
        std::string utf8;
        if (!Run(tool->read, nullptr, &utf8)) return false;
        text = Utf8ToGbk(utf8);
        return true;
    }
    std::lock_guard<std::mutex> hold(g_localLock);
    text = LocalText();
    return true;
}

bool WriteClipboardText(std::string_view text) {
    if (bool ok; HostClipboardWrite(text, ok)) return ok;
    const ClipboardProvider* p = g_provider.load(std::memory_order_acquire);
    if (p && p->write) return p->write(text);
    if (const Tool* tool = DesktopTool()) {
        const std::string utf8 = GbkToUtf8(text, false);
        return Run(tool->write, &utf8, nullptr);
    }
    std::lock_guard<std::mutex> hold(g_localLock);
    LocalText().assign(text.data(), text.size());
    return true;
}

const ClipboardProvider* SetClipboardProvider(const ClipboardProvider* provider) {
    return g_provider.exchange(provider, std::memory_order_acq_rel);
}

}  // namespace qotool::platform
