// The process-wide platform record: what the message log reads about the
// process it serves (its category mask and show flag, the work directory,
// the platform version text, the host application). The library's start-up
// fills it in when it registers itself; until something creates it, the
// first reader creates it with its initial values, as that registration
// would. Once destroyed (the last module left) it stays absent, and the log
// does nothing.
//
// The host path and the work directory are read here until the platform
// module for them exists: the host path is $QO_HOST_PATH, else the
// executable (/proc/self/exe); the work directory is $QO_WORK_DIR, else the
// host's directory with one trailing build-output directory ("DEBUG",
// "DEBUG2", "RELEASE", "RELEASE2", any letter case) removed. Texts are GBK;
// directories end with '/'.
#ifndef QOTOOL_DIAG_PLATFORM_RECORD_H
#define QOTOOL_DIAG_PLATFORM_RECORD_H

#include <cstdint>
#include <string>

namespace qotool::diag {

struct PlatformRecord {
    uint32_t logMask = 1;       // the log's category mask (bit 6 file, bit 7 flush, ...)
    uint8_t showFlag = 1;       // 0: no message boxes at all
    std::string workDirectory;  // ends with '/'
    std::string versionText;    // "平台版本：...--文件版本：..." of the first module
    std::string hostPath;       // the host application's full path
};

// The record, created on first use unless it has been destroyed; null then.
// Callers share it without locking, as the platform's modules always did;
// the log reads it under its own lock.
PlatformRecord* Platform();
// Creates the record afresh with its initial values (also after a destroy).
PlatformRecord& CreatePlatform();
void DestroyPlatform();

// The host application path ($QO_HOST_PATH, else the executable).
std::string HostApplicationPath();
// The work directory of a host path by the build-output rule.
std::string WorkDirectoryOfHost(const std::string& hostPath);
// $QO_WORK_DIR, else WorkDirectoryOfHost(HostApplicationPath()).
std::string DefaultWorkDirectory();

}  // namespace qotool::diag

#endif
