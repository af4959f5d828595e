#include "support/temp_env.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace qotool::test {

TempDir::TempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "_XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
}

// Write bits go back on every folder first, so read-only parts of a test go too.
TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes, mode_t mode) const {
    const std::string file = path_ + "/" + name;
    std::error_code ignored;
    fs::create_directories(fs::path(file).parent_path(), ignored);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    fs::permissions(file, fs::perms(mode), ignored);
    return file;
}

std::string TempDir::MakeDir(const std::string& name) const {
    std::error_code ignored;
    fs::create_directories(path_ + "/" + name, ignored);
    return path_ + "/" + name;
}

std::string TempDir::Read(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
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

}  // namespace qotool::test
