// The message log entry point. Until the log files exist, every message goes
// to the UI sink so that nothing is lost.
#include <string>

#include "platform/ui.h"
#include "qotool/qotool.h"

extern "C" QO_API int ruqo_MessageLog(intptr_t, int mode, const char* message, const char* text1,
                                      const char* text2) {
    std::string line;
    if (message) line += message;
    if (text1 && *text1) line += text1;
    if (text2 && *text2) line += text2;
    qotool::platform::UiSink("QOL", line.c_str());
    return mode;
}
