#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/paths.h"

namespace qotool::platform {

namespace {

bool ReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

// Opens without waiting: a named pipe with no writer (or no reader) would
// otherwise hold open() for ever. A regular file goes back to blocking I/O;
// special files keep the non-blocking mode, so that a read or write that
// would wait ends instead.
int OpenNoWait(const char* name, int flags, struct stat& info) {
    const int fd = open(FileSystemName(name).c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    if (fstat(fd, &info) != 0) {
        close(fd);
        return -1;
    }
    if (S_ISREG(info.st_mode)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

FileState ProbeFile(const char* name) {
    struct stat info;
    if (!name || stat(FileSystemName(name).c_str(), &info) != 0) return FileState::kMissing;
    return ReadOnlyMode(info.st_mode) ? FileState::kReadOnly : FileState::kWritable;
}

bool ReadFileBytes(const char* name, uint64_t maxLength, CString& bytes) {
    struct stat info;
    const int fd = OpenNoWait(name, O_RDONLY, info);
    if (fd < 0) return false;
    if (S_ISDIR(info.st_mode)) {
        close(fd);
        return false;
    }
    // The length the file system gives (0 for pipes and devices).
    uint64_t length = (uint64_t)info.st_size;
    if (maxLength < length) length = maxLength;
    bool ok = true;
    uint64_t done = 0;
    try {
        if (length > (uint64_t)INT_MAX) throw std::length_error("more than one text holds");
        char* buffer = bytes.GetBuffer((int)length);
        while (done < length) {
            const ssize_t n = read(fd, buffer + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) ok = false;
            if (n <= 0) break;
            done += (uint64_t)n;
        }
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    bytes.ReleaseBuffer((int)done);
    return ok;
}

bool WriteFileBytes(const char* name, std::string_view bytes, int64_t& length) {
    const std::string path = FileSystemName(name);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && ReadOnlyMode(info.st_mode)) {
        errno = EACCES;
        return false;
    }
    // A pipe without a reader fails here (ENXIO); one whose reader does not
    // read fails once it is full (EAGAIN).
    const int fd = OpenNoWait(name, O_WRONLY | O_CREAT | O_TRUNC, info);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += (size_t)n;
    }
    if (ok && fstat(fd, &info) == 0) length = (int64_t)info.st_size;
    close(fd);
    return ok;
}

bool DeleteFileNamed(const char* name) {
    const std::string path = FileSystemName(name);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    if (S_ISDIR(info.st_mode) || ReadOnlyMode(info.st_mode)) {
        errno = EACCES;
        return false;
    }
    return unlink(path.c_str()) == 0;
}

bool RenameFileNamed(const char* from, const char* to) {
    const std::string source = FileSystemName(from), target = FileSystemName(to);
    struct stat info;
    if (lstat(source.c_str(), &info) != 0) return false;
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag.
    if (lstat(target.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(source.c_str(), target.c_str()) == 0;
}

bool SetFileReadOnly(const char* name, bool readOnly) {
    const std::string path = FileSystemName(name);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    mode_t mode = info.st_mode & 07777;
    mode = readOnly ? (mode & ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(path.c_str(), mode) == 0;
}

bool ListDirectoryEntries(const char* directory, bool fileAttributes, std::vector<DirectoryEntry>& entries) {
    std::string path = FileSystemName(directory);
    DIR* dir = opendir(path.empty() ? "." : path.c_str());
    if (!dir) return false;
    if (path.empty() || path.back() != '/') path += '/';
    const size_t base = path.size();
    while (dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        DirectoryEntry entry;
        entry.directory = e->d_type == DT_DIR;
        const bool known = e->d_type == DT_DIR || e->d_type == DT_REG;
        if (!known || fileAttributes || entry.directory) {
            path.resize(base);
            path += e->d_name;
            struct stat info;
            if (stat(path.c_str(), &info) != 0) continue;
            entry.directory = S_ISDIR(info.st_mode);
            entry.readOnly = ReadOnlyMode(info.st_mode);
            entry.device = info.st_dev;
            entry.inode = info.st_ino;
        }
        entry.name = SystemNameFromOs(e->d_name);
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    return true;
}

bool DirectoryIdentity(const char* directory, uint64_t& device, uint64_t& inode) {
    struct stat info;
    if (stat(FileSystemName(directory).c_str(), &info) != 0) return false;
    device = info.st_dev;
    inode = info.st_ino;
    return true;
}

bool MakeDirectory(const char* name) { return mkdir(FileSystemName(name).c_str(), 0777) == 0; }

bool RemoveDirectory(const char* name) { return rmdir(FileSystemName(name).c_str()) == 0; }

bool ChangeDirectory(const char* name) { return chdir(FileSystemName(name).c_str()) == 0; }

}  // namespace qotool::platform
