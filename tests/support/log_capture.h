// Test support for the message log: while a LogCapture lives, the log starts
// afresh in a temporary work directory of its own with the category mask
// given (file logging without boxes by default), and the records it wrote
// can be read back. Its destructor forgets the log's state, restores the
// platform record and removes the directory.
#ifndef QOTOOL_TESTS_SUPPORT_LOG_CAPTURE_H
#define QOTOOL_TESTS_SUPPORT_LOG_CAPTURE_H

#include <cstdint>
#include <string>
#include <vector>

namespace qotool::test {

class LogCapture {
public:
    // One record of the log file.
    struct Record {
        long number = 0;
        std::string column;  // the 16-byte category column
        std::string times;   // what the brackets hold: "elapsed(delta/500)delta"
        std::string text;    // the message text (lines joined with "\r\n")
    };

    explicit LogCapture(uint32_t mask = 0x40);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The work directory (ends with '/').
    const std::string& Directory() const { return directory_; }
    // The full path of a file of the log: suffix ".Txt", "_1.txt", "$.Txt" ...
    std::string PathOf(const std::string& suffix) const;
    // The bytes of a file ("" when it does not exist), after flushing the
    // log's open file unless flush is false.
    std::string Bytes(const std::string& suffix = ".Txt", bool flush = true) const;
    // The records of a log file, in order.
    std::vector<Record> Records(const std::string& suffix = ".Txt") const;
    // Just their texts.
    std::vector<std::string> Messages(const std::string& suffix = ".Txt") const;

private:
    std::string directory_;
    std::string base_;
    uint32_t savedMask_;
    std::string savedDirectory_;
};

}  // namespace qotool::test

#endif
