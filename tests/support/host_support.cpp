#include "support/host_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/platform_record.h"

namespace qotool::test {

TempFolder::TempFolder() {
    char pattern[] = "/tmp/qotool_host_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = std::string(made ? made : "/tmp") + "/";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = path_ + name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string TempFolder::Read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

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
