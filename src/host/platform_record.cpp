#include "host/platform_record.h"

#include <atomic>

namespace qotool::host {

namespace {
// Never destroyed by a static destructor: the unload hook still reads it.
PlatformRecord* g_record = nullptr;
std::atomic<bool> g_written{false};
}  // namespace

PlatformRecord* CurrentPlatformRecord() { return g_record; }

PlatformRecord& EnsurePlatformRecord() {
    if (!g_record) g_record = new PlatformRecord;
    return *g_record;
}

void DestroyPlatformRecord() {
    delete g_record;
    g_record = nullptr;
}

uint32_t LogCategoryMask() { return g_record ? g_record->logMask : 0; }

void SetLogCategoryMask(uint32_t mask) {
    if (g_record) g_record->logMask = mask;
}

uint8_t LogShowFlag() { return g_record ? g_record->showFlag : 0; }

void NoteLogRecordWritten() { g_written = true; }
bool LogRecordWritten() { return g_written; }

void ResetPlatformRecordForTest() {
    DestroyPlatformRecord();
    g_written = false;
}

}  // namespace qotool::host
