#include "support/temp_env.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qotool::test {

namespace {

// Removes path and, for a folder, everything in it (write bits restored
// first, so read-only files of a test go too).
void RemoveTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0755);
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") RemoveTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

}  // namespace

TempDir::TempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "_XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes, mode_t mode) const {
    const std::string file = path_ + "/" + name;
    MakeParents(file);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    chmod(file.c_str(), mode);
    return file;
}

std::string TempDir::MakeDir(const std::string& name) const {
    const std::string dir = path_ + "/" + name;
    MakeParents(dir + "/");
    return dir;
}

EnvironmentVariable::EnvironmentVariable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

EnvironmentVariable::~EnvironmentVariable() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

CurrentDirectory::CurrentDirectory(const std::string& path) {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer)) old_ = buffer;
    if (chdir(path.c_str()) != 0) old_.clear();
}

CurrentDirectory::~CurrentDirectory() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) perror("chdir");
}

std::string TempDir::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace qotool::test
