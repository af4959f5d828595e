// How the host services report: every message goes to ruqo_MessageLog and
// every box to the UI. Tests put a recorder in front of the log.
#ifndef QOTOOL_HOST_HOST_LOG_H
#define QOTOOL_HOST_HOST_LOG_H

#include <cstdint>

#include "diag/message_log.h"

namespace qotool::host {

// Message log modes the services use.
using diag::kLogError;
using diag::kLogMainResult;
using diag::kLogRoute;
using diag::kLogWarning;

int Log(int mode, const char* message, const char* text1 = nullptr, const char* text2 = nullptr, intptr_t reserved = 0);

// Test seam: while set, Log calls this instead of ruqo_MessageLog. Returns
// the previous one; null puts the message log back.
using LogFunction = int (*)(intptr_t reserved, int mode, const char* message, const char* text1, const char* text2);
LogFunction SetLogFunctionForTest(LogFunction function);

}  // namespace qotool::host

#endif
