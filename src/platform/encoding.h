// Text conversion at the edges of the system: GBK (code page 936), the
// encoding of every text inside the library, to and from UTF-8, the encoding
// of the Linux terminal, file names and environment.
//
// Conversions go through glibc iconv "CP936". Each thread opens its own pair
// of descriptors the first time it converts and closes them when it ends, so
// the functions may be called from any thread without locking.
#ifndef QOTOOL_PLATFORM_ENCODING_H
#define QOTOOL_PLATFORM_ENCODING_H

#include <string>
#include <string_view>

namespace qotool::platform {

// GBK bytes to UTF-8. A byte that does not convert (a lone or malformed lead
// byte, a two-byte code with no Unicode form, a byte GBK does not define)
// becomes "?", or with escapeBad the four characters "\xNN" (upper-case hex
// digits), one for each byte of the unconvertible code. Zero bytes are kept.
std::string GbkToUtf8(std::string_view gbk, bool escapeBad);

// UTF-8 to GBK. A malformed byte becomes "?"; a well-formed character with no
// GBK form becomes a single "?". Zero bytes are kept.
std::string Utf8ToGbk(std::string_view utf8);

// True when text is well-formed UTF-8 (shortest forms only, no surrogates,
// nothing above U+10FFFF) and holds at least one byte >= 0x80.
bool IsUtf8WithNonAscii(std::string_view text);

// True when the locale the environment names for character types is a UTF-8
// one: the first non-empty of LC_ALL, LC_CTYPE and LANG contains "UTF-8" or
// "utf8" in any letter case. Reads the environment only; the process locale
// is never touched.
bool EnvironmentIsUtf8();

}  // namespace qotool::platform

#endif
