// The message log: the library's one channel for diagnostics.
//
// A message's mode is a 32-bit word whose lowest set bit is its category
// (a mode of 0 counts as bit 31). The platform record's category mask says
// which categories are shown in a message box and carries the options (bit
// 6 write to the file, bit 7 flush every record, bit 13 write errors and
// warnings even without bit 6). The log file is the work directory +
// "RuQoLog_NoQo_" + the host's file name (upper case, extension cut) +
// ".Txt"; the first record of a process moves the older generations along
// ("_1.txt", "_2.txt"), every 10000th record moves the file to "_0.txt",
// and a file that cannot be moved away gives way to the "$.Txt" file.
// Records are GBK with CRLF line ends.
//
// The state is process-wide and locked; message boxes and the diagnosis
// dialog run outside the lock, on the calling thread. Timings use the
// monotonic clock (platform/clock.h).
#ifndef QOTOOL_DIAG_MESSAGE_LOG_H
#define QOTOOL_DIAG_MESSAGE_LOG_H

#include <cstdint>
#include <string>

namespace qotool::diag {

enum : uint32_t {
    kLogError = 0x1,
    kLogWarning = 0x2,
    kLogMainResult = 0x4,
    kLogIntermediate = 0x8,
    kLogRoute = 0x10,
    kLogStatement = 0x20,
    kLogToFile = 0x40,        // as a mask option: write messages to the file; as a mode: open the file
    kLogFlushEach = 0x80,     // flush after every record
    kLogHint = 0x100,
    kLogResultError = 0x200,
    kLogChoiceBox = 0x400,    // read by the interpreter's diagnostics
    kLogCloseBrowser = 0x800,
    kLogSkipSlow = 0x1000,
    kLogErrorsToFile = 0x2000,  // errors and warnings go to the file even without kLogToFile
    kLogTitled = 0x4000,        // a category named by the caller's title
    kLogMessageModes = 0x433F,  // the modes accepted as messages
};

// The name of a category (0 to 31); "" for 14 (the caller's title) and for
// 15 and above.
const char* CategoryName(int category);

// The path (GBK) of the log file that records go to: the work directory's
// ".Txt" file, or the "$.Txt" file after a failed move. Empty before the
// first call.
std::string LogFilePath();

// Points the log at another work directory (GBK; a '/' is added when
// missing). What the log did before, in whatever directory it had, is done
// again in the new one as if the directory had been there from the start:
// the first-call file check, the rotation, the header and the records
// written so far (boxes are not shown again). Empty or null: no change.
void SetLogDirectory(const char* directory);

// Writes out what the open log file holds in its buffer.
void FlushMessageLog();
// Closes the log file (at unload). A later record opens it for itself.
void CloseMessageLog();

// Tests: closes the file and forgets every bit of log state, so that the
// next call is the first of the process again.
void ResetMessageLogForTest();

}  // namespace qotool::diag

#endif
