#include "platform/version_info.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

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

bool ReadAt(FILE* file, uint64_t offset, void* buffer, size_t size) {
    return fseeko(file, (off_t)offset, SEEK_SET) == 0 && fread(buffer, 1, size, file) == size;
}

// The bytes of the section kSectionName of a 64-bit ELF file.
bool ReadSection(const std::string& osPath, std::string& bytes) {
    FILE* file = fopen(osPath.c_str(), "rb");
    if (!file) return false;
    bool found = false;
    Elf64_Ehdr header{};
    if (ReadAt(file, 0, &header, sizeof header) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(Elf64_Shdr) &&
        header.e_shstrndx < header.e_shnum) {
        Elf64_Shdr names{};
        if (ReadAt(file, header.e_shoff + (uint64_t)header.e_shstrndx * sizeof(Elf64_Shdr), &names, sizeof names)) {
            for (unsigned i = 0; i < header.e_shnum && !found; ++i) {
                Elf64_Shdr section{};
                if (!ReadAt(file, header.e_shoff + (uint64_t)i * sizeof section, &section, sizeof section)) break;
                if (section.sh_name >= names.sh_size || section.sh_type == SHT_NOBITS) continue;
                char name[sizeof kSectionName] = {};
                if (!ReadAt(file, names.sh_offset + section.sh_name, name, sizeof name)) continue;
                if (memcmp(name, kSectionName, sizeof kSectionName) != 0) continue;
                if (section.sh_size > 4096) break;
                bytes.resize(section.sh_size);
                found = ReadAt(file, section.sh_offset, bytes.data(), bytes.size());
            }
        }
    }
    fclose(file);
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

}  // namespace qotool::platform
