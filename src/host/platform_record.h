// The host's view of the platform record (diag/platform_record.h holds it):
// the module registry creates it with the first module and destroys it with
// the last; the log's category mask and show flag live in it.
#ifndef QOTOOL_HOST_PLATFORM_RECORD_H
#define QOTOOL_HOST_PLATFORM_RECORD_H

#include <cstdint>

#include "diag/platform_record.h"

namespace qotool::host {

using diag::PlatformRecord;

// The record, or null while none exists.
inline PlatformRecord* CurrentPlatformRecord() { return diag::ExistingPlatform(); }
// The record, created when there is none.
inline PlatformRecord& EnsurePlatformRecord() {
    PlatformRecord* record = diag::ExistingPlatform();
    return record ? *record : diag::CreatePlatform();
}
inline void DestroyPlatformRecord() { diag::DestroyPlatform(); }

// The log's category mask and show flag: the record's, or 0 while there is
// no record (the log then does nothing).
inline uint32_t LogCategoryMask() {
    const PlatformRecord* record = diag::ExistingPlatform();
    return record ? record->logMask : 0;
}
inline void SetLogCategoryMask(uint32_t mask) {
    if (PlatformRecord* record = diag::ExistingPlatform()) record->logMask = mask;
}
inline uint8_t LogShowFlag() {
    const PlatformRecord* record = diag::ExistingPlatform();
    return record ? record->showFlag : 0;
}

using diag::LogRecordWritten;
using diag::NoteLogRecordWritten;

inline void ResetPlatformRecordForTest() { diag::ResetPlatformForTest(); }

}  // namespace qotool::host

#endif
