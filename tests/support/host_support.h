// Test support for the host services: a temporary folder removed with its
// contents, environment variables set for a scope, and a recorder that
// stands in front of the message log.
#ifndef QOTOOL_TESTS_SUPPORT_HOST_SUPPORT_H
#define QOTOOL_TESTS_SUPPORT_HOST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_log.h"

namespace qotool::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // The folder, ending with '/'.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }
    // Writes bytes to the file name (folders on the way are made).
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

private:
    std::string path_;
};

// Sets (or with a null value unsets) an environment variable until the end
// of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_, old_;
    bool had_;
};

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
