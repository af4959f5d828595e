#include "host/host_log.h"

#include <atomic>

#include "qotool/qotool.h"

namespace qotool::host {

namespace {
std::atomic<LogFunction> g_function{nullptr};
}

int Log(int mode, const char* message, const char* text1, const char* text2, intptr_t reserved) {
    if (LogFunction function = g_function.load()) return function(reserved, mode, message, text1, text2);
    return ruqo_MessageLog(reserved, mode, message, text1, text2);
}

LogFunction SetLogFunctionForTest(LogFunction function) { return g_function.exchange(function); }

}  // namespace qotool::host
