#include "support/host_support.h"

#include "host/platform_record.h"

namespace qotool::test {

namespace {
std::vector<LogRecorder::Line> g_lines;

int Record(intptr_t reserved, int mode, const char* message, const char* text1, const char* text2) {
    g_lines.push_back(
        {mode, message ? message : "", text1 ? text1 : "", text2 ? text2 : "", host::LogCategoryMask(), reserved});
    return mode;
}
}  // namespace

LogRecorder::LogRecorder() : previous_(host::SetLogFunctionForTest(Record)) { g_lines.clear(); }
LogRecorder::~LogRecorder() { host::SetLogFunctionForTest(previous_); }
const std::vector<LogRecorder::Line>& LogRecorder::lines() const { return g_lines; }
std::vector<std::string> LogRecorder::Messages() const {
    std::vector<std::string> out;
    for (const Line& line : g_lines) out.push_back(line.message);
    return out;
}
void LogRecorder::Clear() { g_lines.clear(); }

}  // namespace qotool::test
