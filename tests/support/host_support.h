// Test support for the host services: a recorder that stands in front of
// the message log (temporary folders and environment: temp_env.h).
#ifndef QOTOOL_TESTS_SUPPORT_HOST_SUPPORT_H
#define QOTOOL_TESTS_SUPPORT_HOST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_log.h"

namespace qotool::test {

// While it lives, every message of the host services is recorded here
// instead of reaching the message log.
class LogRecorder {
public:
    struct Line {
        int mode;
        std::string message, text1, text2;
        uint32_t maskWhenLogged;  // the platform record's category mask then
        intptr_t reserved;
    };
    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;
    const std::vector<Line>& lines() const;
    std::vector<std::string> Messages() const;
    void Clear();

private:
    host::LogFunction previous_;
};

}  // namespace qotool::test

#endif
