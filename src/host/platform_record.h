// The platform record: one per process, made by the first module that
// registers (module_registry.h) and destroyed when the last one leaves.
// The message log reads its category mask, show flag, work directory and
// version text; modules that share it get it from
// ruqo_GetQoProperty("EP_Share").
#ifndef QOTOOL_HOST_PLATFORM_RECORD_H
#define QOTOOL_HOST_PLATFORM_RECORD_H

#include <cstdint>

#include "qotool/cstring.h"

namespace qotool::host {

struct PlatformRecord {
    uint32_t logMask = 1;     // category mask of the message log
    uint8_t showFlag = 1;     // the log may show boxes
    CString moduleDirectory;  // the first registering module's directory, upper case
    CString workDirectory;    // ends with a separator
    int reserved = 0;
    CString versionText;  // "平台版本：...--文件版本：..." of the first registering module
};

// The record, or null while none exists.
PlatformRecord* CurrentPlatformRecord();
// Creates the record when there is none; returns it.
PlatformRecord& EnsurePlatformRecord();
void DestroyPlatformRecord();

// The log's category mask and show flag: the record's, or 0 while there is
// no record (the log then does nothing).
uint32_t LogCategoryMask();
void SetLogCategoryMask(uint32_t mask);
uint8_t LogShowFlag();

// Whether the message log has written a record in this process: the log
// calls NoteLogRecordWritten for each record it writes.
void NoteLogRecordWritten();
bool LogRecordWritten();

// Test seam: forgets the record and the written flag.
void ResetPlatformRecordForTest();

}  // namespace qotool::host

#endif
