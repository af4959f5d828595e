#include "platform/sound.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/host_devices.h"
#include "platform/paths.h"
#include "platform/processes.h"

extern char** environ;

namespace qotool::platform {

namespace {

std::atomic<const SoundProvider*> g_provider{nullptr};

// Runs program with one argument to its end; true when it exits with 0.
bool RunToEnd(const std::string& program, const std::string& argument) {
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    CloseInheritedDescriptors(actions);
    pid_t child;
    const int error = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int Beep(unsigned frequency, unsigned durationMs) {
    if (int result; HostBeep(frequency, durationMs, result)) return result;
    const SoundProvider* p = g_provider.load(std::memory_order_acquire);
    if (p && p->beep) return p->beep(frequency, durationMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(durationMs > 60000 ? 60000 : durationMs));
    return 1;
}

bool PlaySoundFile(const char* gbkFile) {
    if (bool ok; HostPlaySound(gbkFile, ok)) return ok;
    const SoundProvider* p = g_provider.load(std::memory_order_acquire);
    if (p && p->play) return p->play(gbkFile ? gbkFile : "");
    std::string player;
    if (const char* chosen = getenv("QO_PLAYSOUND"); chosen && *chosen) player = chosen;
    for (const char* name : {"paplay", "aplay", "play"}) {
        if (!player.empty()) break;
        player = FindOnPath(name);
    }
    if (player.empty()) return false;
    return RunToEnd(player, FileSystemName(gbkFile ? gbkFile : ""));
}

const SoundProvider* SetSoundProvider(const SoundProvider* provider) {
    return g_provider.exchange(provider, std::memory_order_acq_rel);
}

}  // namespace qotool::platform
