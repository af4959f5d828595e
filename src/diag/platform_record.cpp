#include "diag/platform_record.h"

#include <atomic>
#include <mutex>

#include "platform/module_path.h"

namespace qotool::diag {

namespace {

// Never destroyed by a static destructor: the unload hook still logs.
std::mutex g_mutex;
PlatformRecord* g_record = nullptr;
bool g_everCreated = false;
std::atomic<bool> g_written{false};

PlatformRecord* NewRecord() {
    delete g_record;
    g_record = new PlatformRecord;
    g_record->hostPath = platform::HostPath();
    g_record->workDirectory = platform::WorkDirectory();
    g_everCreated = true;
    return g_record;
}

}  // namespace

PlatformRecord* Platform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_record && !g_everCreated) return NewRecord();
    return g_record;
}

PlatformRecord* ExistingPlatform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_record;
}

PlatformRecord& CreatePlatform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return *NewRecord();
}

void DestroyPlatform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    delete g_record;
    g_record = nullptr;
    g_everCreated = true;
}

void NoteLogRecordWritten() { g_written = true; }
bool LogRecordWritten() { return g_written; }

void ResetPlatformForTest() {
    std::lock_guard<std::mutex> lock(g_mutex);
    delete g_record;
    g_record = nullptr;
    g_everCreated = false;
    g_written = false;
}

}  // namespace qotool::diag
