// A temporary folder for one test, removed with everything in it when the
// object goes.
#ifndef QOTOOL_TESTS_SUPPORT_TEMP_DIR_H
#define QOTOOL_TESTS_SUPPORT_TEMP_DIR_H

#include <sys/types.h>

#include <string>

namespace qotool::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes bytes to name inside the folder with the given mode; returns
    // the full path.
    std::string Write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const;
    // The whole content of the file at path ("" when it cannot be read).
    static std::string Read(const std::string& path);

private:
    std::string path_;
};

}  // namespace qotool::test

#endif
