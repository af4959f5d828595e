// Private profile files (".ini"): sections "[name]" of "key=value" lines.
// Files are data: read and written byte for byte as GBK, lines the library
// writes end in CRLF, every line it does not touch keeps its bytes and its
// line end. Section and key names compare without regard to the case of
// ASCII letters (two-byte characters compare exactly); blanks around names
// and values are dropped, and a value in double quotes loses the quotes.
// Lines that are neither a section nor "key=value" are kept and ignored.
#ifndef QOTOOL_PLATFORM_INI_FILE_H
#define QOTOOL_PLATFORM_INI_FILE_H

#include <string>
#include <string_view>

namespace qotool::platform {

// The value of key in section of the file at path (a GBK name), or
// fallback when the file, the section or the key is missing.
std::string ReadProfileString(const char* path, std::string_view section, std::string_view key,
                              std::string_view fallback);
// The value read as a decimal integer (leading blanks and a sign allowed,
// trailing text ignored), or fallback when missing or not a number.
int ReadProfileInt(const char* path, std::string_view section, std::string_view key, int fallback);

// Sets key in section to value, creating the file, the section or the key
// as needed (a new section is appended at the end). A null value removes
// the key. Returns false when the file cannot be written.
bool WriteProfileString(const char* path, std::string_view section, std::string_view key, const char* value);

// The same over a profile text held in memory (what the file functions use).
std::string ProfileTextRead(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view fallback, bool* found = nullptr);
std::string ProfileTextWrite(std::string_view text, std::string_view section, std::string_view key,
                             const char* value);

}  // namespace qotool::platform

#endif
