// Hermetic surroundings for tests: a temporary folder that is removed with
// everything in it, and environment variables set for a scope.
#ifndef QOTOOL_TESTS_SUPPORT_TEMP_ENV_H
#define QOTOOL_TESTS_SUPPORT_TEMP_ENV_H

#include <sys/types.h>

#include <string>

namespace qotool::test {

// A fresh folder under /tmp; the destructor removes it and all it holds.
class TempDir {
public:
    explicit TempDir(const char* prefix = "qotool");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's path, without a trailing '/'.
    const std::string& path() const { return path_; }
    // Writes bytes to the file name (relative to the folder, parent folders
    // created as needed) with the given permission bits; returns its path.
    std::string Write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const;
    // Creates the folder name (and its parents); returns its path.
    std::string MakeDir(const std::string& name) const;
    // The whole content of the file at path ("" when it cannot be read).
    static std::string Read(const std::string& path);

private:
    std::string path_;
};

// Sets (or, with null, unsets) an environment variable for the scope and
// puts back what was there.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value);
    EnvironmentVariable(const char* name, const std::string& value) : EnvironmentVariable(name, value.c_str()) {}
    ~EnvironmentVariable();
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

// Changes the current directory for the scope.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& path);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::string old_;
};

}  // namespace qotool::test

#endif
