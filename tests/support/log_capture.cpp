#include "support/log_capture.h"

#include <stdlib.h>

#include <filesystem>

#include "diag/message_log.h"
#include "diag/platform_record.h"
#include "platform/file_io.h"

namespace qotool::test {

namespace {

bool IsRecordStart(const std::string& line, long& number, size_t& after) {
    static const std::string open = "【", close = "】";
    if (line.compare(0, open.size(), open) != 0) return false;
    size_t i = open.size();
    const size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    if (i == digits || line.compare(i, close.size(), close) != 0 || line.empty() || line.back() != ']') return false;
    number = std::stol(line.substr(digits, i - digits));
    after = i + close.size();
    return true;
}

}  // namespace

LogCapture::LogCapture(uint32_t mask) {
    char pattern[] = "/tmp/qolog-XXXXXX";
    directory_ = mkdtemp(pattern) ? std::string(pattern) + "/" : std::string("/tmp/");
    diag::ResetMessageLogForTest();
    diag::PlatformRecord& record = *diag::Platform();
    savedMask_ = record.logMask;
    savedDirectory_ = record.workDirectory;
    record.logMask = mask;
    record.workDirectory = directory_;
    std::string name = record.hostPath.substr(record.hostPath.rfind('/') + 1);
    if (name.rfind('.') != std::string::npos) name.resize(name.rfind('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    base_ = directory_ + "RuQoLog_NoQo_" + name;
}

LogCapture::~LogCapture() {
    diag::ResetMessageLogForTest();
    if (diag::PlatformRecord* record = diag::Platform()) {
        record->logMask = savedMask_;
        record->workDirectory = savedDirectory_;
    }
    std::error_code ignored;
    std::filesystem::permissions(directory_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(directory_, ignored);
}

std::string LogCapture::PathOf(const std::string& suffix) const { return base_ + suffix; }

std::string LogCapture::Bytes(const std::string& suffix, bool flush) const {
    if (flush) diag::FlushMessageLog();
    std::string content;
    platform::ReadWholeFile(PathOf(suffix).c_str(), content);
    return content;
}

std::vector<LogCapture::Record> LogCapture::Records(const std::string& suffix) const {
    std::vector<Record> records;
    const std::string bytes = Bytes(suffix);
    size_t from = 0;
    bool hasText = false;
    while (from < bytes.size()) {
        size_t end = bytes.find("\r\n", from);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(from, end - from);
        from = end + 2;
        long number = 0;
        size_t after = 0;
        if (IsRecordStart(line, number, after)) {
            Record record;
            record.number = number;
            record.column = line.substr(after, 16);
            record.times = line.substr(after + 17, line.size() - after - 18);
            records.push_back(record);
            hasText = false;
            continue;
        }
        if (records.empty()) continue;  // the header
        std::string& text = records.back().text;
        if (hasText) text += "\r\n";
        text += line;
        hasText = true;
    }
    return records;
}

std::vector<std::string> LogCapture::Messages(const std::string& suffix) const {
    std::vector<std::string> texts;
    for (const Record& record : Records(suffix)) texts.push_back(record.text);
    return texts;
}

}  // namespace qotool::test
