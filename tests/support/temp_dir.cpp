#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qotool::test {

TempDir::TempDir() {
    char pattern[] = "/tmp/qotool_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) ADD_FAILURE() << "cannot make a temporary folder";
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
    const std::string command = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp" && std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path_;
}

std::string TempDir::Write(const std::string& name, const std::string& bytes, mode_t mode) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    chmod(file.c_str(), mode);
    return file;
}

std::string TempDir::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace qotool::test
