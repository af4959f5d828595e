#include "platform/version_info.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

// Written by cmake/QoVersion.cmake into the module; absent (null) in a
// program built without a version section.
extern "C" {
extern const char* const qo_own_version_info __attribute__((weak, visibility("hidden")));
extern const unsigned long qo_own_version_size __attribute__((weak, visibility("hidden")));
}

namespace qotool::platform {

namespace {

constexpr char kSectionName[] = ".qo_version";

// Takes the "Key=value" entries of text (separated by zero bytes or line
// ends); true when at least one of the two keys was present.
bool ParseEntries(const std::string& text, VersionInfo& info) {
    bool any = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(std::string("\0\r\n", 3), start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) {
            const std::string key = entry.substr(0, eq);
            if (key == "ProductVersion") info.productVersion = entry.substr(eq + 1), any = true;
            if (key == "FileVersion") info.fileVersion = entry.substr(eq + 1), any = true;
        }
        start = end + 1;
    }
    return any;
}

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t size) {
    return pread(fd, buffer, size, (off_t)offset) == (ssize_t)size;
}

// The bytes of the section kSectionName of a 64-bit ELF file: the header,
// the section table and the section names each come in one read.
bool ReadSection(const std::string& osPath, std::string& bytes) {
    const int fd = open(osPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool found = false;
    Elf64_Ehdr header{};
    if (ReadAt(fd, 0, &header, sizeof header) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(Elf64_Shdr) &&
        header.e_shstrndx < header.e_shnum) {
        // The headers that can be read whole (a cut file keeps those before the cut).
        std::vector<Elf64_Shdr> sections(header.e_shnum);
        const ssize_t got = pread(fd, sections.data(), sections.size() * sizeof(Elf64_Shdr), (off_t)header.e_shoff);
        sections.resize(got > 0 ? (size_t)got / sizeof(Elf64_Shdr) : 0);
        std::string names;
        if (header.e_shstrndx < sections.size()) {
            const Elf64_Shdr& table = sections[header.e_shstrndx];
            // Section names are short; a larger table is not one to trust.
            if (table.sh_size <= (1u << 20)) {
                names.resize(table.sh_size);
                const ssize_t read = pread(fd, names.data(), names.size(), (off_t)table.sh_offset);
                names.resize(read > 0 ? (size_t)read : 0);
            }
        }
        for (const Elf64_Shdr& section : sections) {
            if (section.sh_name >= names.size() || section.sh_type == SHT_NOBITS) continue;
            if (names.compare(section.sh_name, sizeof kSectionName, kSectionName, sizeof kSectionName) != 0) continue;
            if (section.sh_size > 4096) break;
            bytes.resize(section.sh_size);
            found = ReadAt(fd, section.sh_offset, bytes.data(), bytes.size());
            if (found) break;
        }
    }
    close(fd);
    return found;
}

}  // namespace

bool ReadVersionInfo(const std::string& osPath, VersionInfo& info) {
    info = VersionInfo{};
    std::string bytes;
    if (ReadSection(osPath, bytes) && ParseEntries(bytes, info)) return true;
    std::ifstream sidecar(osPath + ".version", std::ios::binary);
    if (!sidecar) return false;
    bytes.assign(std::istreambuf_iterator<char>(sidecar), std::istreambuf_iterator<char>());
    return ParseEntries(bytes, info);
}

bool OwnVersionInfo(VersionInfo& info, const void*& ownAddress) {
    info = VersionInfo{};
    ownAddress = (const void*)&OwnVersionInfo;
    if (!&qo_own_version_info || !&qo_own_version_size || !qo_own_version_info) return false;
    return ParseEntries(std::string(qo_own_version_info, qo_own_version_size), info);
}

}  // namespace qotool::platform
