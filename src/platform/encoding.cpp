#include "platform/encoding.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qotool::platform {
namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// The calling thread's descriptors, opened on first use and closed when the
// thread ends. A descriptor that cannot be opened stays kNoDescriptor; the
// conversions then pass ASCII through and treat every other byte as bad.
struct ThreadDescriptors {
    iconv_t gbkToUtf8 = kNoDescriptor;
    iconv_t utf8ToGbk = kNoDescriptor;
    bool opened = false;

    // The main thread's stay open: the library's unload hook still
    // converts after that thread's objects are gone, and the process end
    // takes them.
    ~ThreadDescriptors() {
        if (getpid() == (pid_t)syscall(SYS_gettid)) return;
        if (gbkToUtf8 != kNoDescriptor) iconv_close(gbkToUtf8);
        if (utf8ToGbk != kNoDescriptor) iconv_close(utf8ToGbk);
    }

    void Open() {
        if (opened) return;
        opened = true;
        gbkToUtf8 = iconv_open("UTF-8", "CP936");
        utf8ToGbk = iconv_open("CP936", "UTF-8");
    }
};

thread_local ThreadDescriptors t_descriptors;

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

// Length of the well-formed UTF-8 sequence at p, or 0 when the bytes there
// are not one.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (InRange(c, 0xC2, 0xDF)) {
        length = 2;
    } else if (InRange(c, 0xE0, 0xEF)) {
        length = 3;
        if (c == 0xE0) secondLow = 0xA0;        // no overlong forms
        if (c == 0xED) secondHigh = 0x9F;       // no surrogates
    } else if (InRange(c, 0xF0, 0xF4)) {
        length = 4;
        if (c == 0xF0) secondLow = 0x90;        // no overlong forms
        if (c == 0xF4) secondHigh = 0x8F;       // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (left < length || !InRange(p[1], secondLow, secondHigh)) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!InRange(p[i], 0x80, 0xBF)) return 0;
    }
    return length;
}

// Bytes to step over when GBK input fails to convert at p: a lead byte with a
// byte of the trail range behind it is one (unmapped) character; anything
// else is one bad byte.
size_t GbkBadUnitLength(const unsigned char* p, size_t left) {
    if (left >= 2 && InRange(p[0], 0x81, 0xFE) &&
        (InRange(p[1], 0x40, 0x7E) || InRange(p[1], 0x80, 0xFE))) {
        return 2;
    }
    return 1;
}

// Bytes to step over when UTF-8 input fails to convert at p: a well-formed
// character with no GBK form as a whole, else one malformed byte.
size_t Utf8BadUnitLength(const unsigned char* p, size_t left) {
    const size_t length = Utf8SequenceLength(p, left);
    return length == 0 ? 1 : length;
}

// Converts in with cd. Where the input does not convert, badLength tells how
// many bytes the failing unit has, and onBad appends its replacement.
template <typename BadLength, typename OnBad>
std::string Convert(iconv_t cd, std::string_view in, BadLength badLength, OnBad onBad) {
    std::string out;
    out.reserve(in.size() + in.size() / 2 + 8);
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
    size_t left = in.size();

    if (cd == kNoDescriptor) {
        while (left > 0) {
            if (bytes[0] < 0x80) {
                out.push_back(static_cast<char>(bytes[0]));
                ++bytes;
                --left;
                continue;
            }
            const size_t n = badLength(bytes, left);
            onBad(out, bytes, n);
            bytes += n;
            left -= n;
        }
        return out;
    }

    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    while (left > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &inPtr, &left, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (result != static_cast<size_t>(-1) || error == E2BIG) continue;
        // EILSEQ (no conversion, or malformed) or EINVAL (cut off at the end).
        const auto* at = reinterpret_cast<const unsigned char*>(inPtr);
        const size_t n = badLength(at, left);
        onBad(out, at, n);
        inPtr += n;
        left -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

void AppendQuestionMarks(std::string& out, const unsigned char*, size_t n) {
    out.append(n, '?');
}

void AppendHexEscapes(std::string& out, const unsigned char* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        out.push_back('\\');
        out.push_back('x');
        out.push_back(kDigits[p[i] >> 4]);
        out.push_back(kDigits[p[i] & 0x0F]);
    }
}

bool ContainsNoCase(std::string_view text, std::string_view lowerNeedle) {
    if (lowerNeedle.size() > text.size()) return false;
    for (size_t start = 0; start + lowerNeedle.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < lowerNeedle.size()) {
            unsigned char c = static_cast<unsigned char>(text[start + i]);
            if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
            if (c != static_cast<unsigned char>(lowerNeedle[i])) break;
            ++i;
        }
        if (i == lowerNeedle.size()) return true;
    }
    return false;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk, bool escapeBad) {
    // Both encodings keep ASCII as it is: a plain text needs no converter
    // (and loads none).
    if (IsAscii(gbk)) return std::string(gbk);
    t_descriptors.Open();
    if (escapeBad) {
        return Convert(t_descriptors.gbkToUtf8, gbk, GbkBadUnitLength, AppendHexEscapes);
    }
    // Each unconvertible byte becomes one "?".
    return Convert(t_descriptors.gbkToUtf8, gbk, GbkBadUnitLength, AppendQuestionMarks);
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    t_descriptors.Open();
    // A whole character without GBK form becomes a single "?".
    return Convert(t_descriptors.utf8ToGbk, utf8, Utf8BadUnitLength,
                   [](std::string& out, const unsigned char*, size_t) { out.push_back('?'); });
}

bool IsUtf8WithNonAscii(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    bool nonAscii = false;
    while (left > 0) {
        const size_t n = Utf8SequenceLength(p, left);
        if (n == 0) return false;
        if (n > 1) nonAscii = true;
        p += n;
        left -= n;
    }
    return nonAscii;
}

bool EnvironmentIsUtf8() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return ContainsNoCase(value, "utf-8") || ContainsNoCase(value, "utf8");
    }
    return false;
}

}  // namespace qotool::platform
