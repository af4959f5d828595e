// The process-wide platform record: one per process, made by the first
// module that registers (host/module_registry.h) and destroyed when the last
// one leaves. The message log reads its category mask, show flag, work
// directory and version text; modules that share it get it from
// ruqo_GetQoProperty("EP_Share"). Until a module registers, the first
// reader creates it with its initial values, as that registration would;
// once destroyed it stays absent (Platform() null) until CreatePlatform, and
// the log then does nothing. Texts are GBK; directories end with a
// separator.
#ifndef QOTOOL_DIAG_PLATFORM_RECORD_H
#define QOTOOL_DIAG_PLATFORM_RECORD_H

#include <cstdint>
#include <string>

namespace qotool::diag {

struct PlatformRecord {
    uint32_t logMask = 1;         // the log's category mask (bit 6 file, bit 7 flush, ...)
    uint8_t showFlag = 1;         // 0: no message boxes at all
    std::string workDirectory;    // ends with a separator
    std::string versionText;      // "平台版本：...--文件版本：..." of the first module
    std::string hostPath;         // the host application's path as the system records it
    std::string moduleDirectory;  // the first registering module's directory, upper case
    int reserved = 0;
};

// The record, created on first use unless it has been destroyed; null then.
// Callers share it without locking, as the platform's modules always did;
// the log reads it under its own lock.
PlatformRecord* Platform();
// The record when it exists; never creates one.
PlatformRecord* ExistingPlatform();
// Creates the record afresh with its initial values (also after a destroy).
PlatformRecord& CreatePlatform();
void DestroyPlatform();

// Whether the message log has written a record to its file in this
// process: the log notes each record it writes.
void NoteLogRecordWritten();
bool LogRecordWritten();

// Test seam: no record, as before the first use, and nothing written.
void ResetPlatformForTest();

}  // namespace qotool::diag

#endif
