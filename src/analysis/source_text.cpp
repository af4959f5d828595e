#include "analysis/source_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "platform/encoding.h"

namespace qotool::analysis {

namespace {

// Length of the UTF-8 sequence at s[i] and its code point; 0 when malformed.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t* cp) {
    const unsigned char c = (unsigned char)s[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = (unsigned char)s[i + k];
        if ((d & 0xC0) != 0x80) return 0;
        v = (v << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

}  // namespace

SourceText SourceText::FromUtf8(std::string_view utf8) {
    SourceText source;
    source.gbk_.reserve(utf8.size());
    std::unordered_map<uint32_t, std::string> converted;
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            source.gbk_ += (char)c;
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const size_t n = DecodeUtf8(utf8, i, &cp);
        if (n == 0) {  // a malformed byte reads as '?'
            source.missing_.push_back({(uint32_t)source.gbk_.size(), 0xFFFD});
            source.gbk_ += '?';
            ++i;
            continue;
        }
        auto it = converted.find(cp);
        if (it == converted.end()) it = converted.emplace(cp, platform::Utf8ToGbk(utf8.substr(i, n))).first;
        if (it->second.size() == 2) {
            source.gbk_ += it->second;
        } else {
            source.missing_.push_back({(uint32_t)source.gbk_.size(), cp});
            source.gbk_ += '?';
        }
        i += n;
    }
    source.IndexLines();
    return source;
}

SourceText SourceText::FromGbk(std::string gbk) {
    SourceText source;
    source.gbk_ = std::move(gbk);
    source.IndexLines();
    return source;
}

SourceText SourceText::FromFile(std::string_view bytes) {
    if (platform::IsUtf8WithNonAscii(bytes)) return FromUtf8(bytes);
    return FromGbk(std::string(bytes));
}

void SourceText::IndexLines() {
    lineStarts_.assign(1, 0);
    for (size_t i = 0; i < gbk_.size(); ++i)
        if (gbk_[i] == '\n') lineStarts_.push_back((uint32_t)i + 1);
}

uint32_t SourceText::LineOf(uint32_t offset) const {
    return (uint32_t)(std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset) - lineStarts_.begin()) - 1;
}

uint32_t SourceText::LineStart(uint32_t line) const {
    return line < lineStarts_.size() ? lineStarts_[line] : (uint32_t)gbk_.size();
}

uint32_t SourceText::LineEnd(uint32_t line) const {
    uint32_t end = line + 1 < lineStarts_.size() ? lineStarts_[line + 1] - 1 : (uint32_t)gbk_.size();
    if (line >= lineStarts_.size()) return (uint32_t)gbk_.size();
    if (end > lineStarts_[line] && gbk_[end - 1] == '\r' && end < gbk_.size() && gbk_[end] == '\n') --end;
    return end;
}

void SourceText::Step(uint32_t offset, uint32_t* bytes, uint32_t* units) const {
    const unsigned char c = (unsigned char)gbk_[offset];
    *bytes = 1;
    *units = 1;
    if (c >= 0x81 && c != 0xFF && offset + 1 < gbk_.size() && gbk_[offset + 1] != '\n') {
        *bytes = 2;
        return;
    }
    if (c == '?' && !missing_.empty()) {
        auto it = std::lower_bound(missing_.begin(), missing_.end(), offset,
                                   [](const Missing& m, uint32_t o) { return m.offset < o; });
        if (it != missing_.end() && it->offset == offset && it->codePoint > 0xFFFF) *units = 2;
    }
}

uint32_t SourceText::CharacterColumn(uint32_t offset) const {
    uint32_t column = 0;
    for (uint32_t i = LineStart(LineOf(offset)); i < offset && i < gbk_.size(); ++column) {
        uint32_t bytes, units;
        Step(i, &bytes, &units);
        i += bytes;
    }
    return column;
}

uint32_t SourceText::Utf16Column(uint32_t offset) const {
    uint32_t column = 0;
    for (uint32_t i = LineStart(LineOf(offset)); i < offset && i < gbk_.size();) {
        uint32_t bytes, units;
        Step(i, &bytes, &units);
        i += bytes;
        column += units;
    }
    return column;
}

uint32_t SourceText::OffsetOfUtf16(uint32_t line, uint32_t column) const {
    if (line >= lineStarts_.size()) return (uint32_t)gbk_.size();
    const uint32_t end = LineEnd(line);
    uint32_t i = lineStarts_[line];
    for (uint32_t units = 0; i < end;) {
        uint32_t bytes, width;
        Step(i, &bytes, &width);
        if (units + width > column) break;
        units += width;
        i += bytes;
    }
    return std::min(i, end);
}

std::string SourceText::Utf8(uint32_t offset, uint32_t length) const {
    if (offset > gbk_.size()) return std::string();
    return platform::GbkToUtf8(std::string_view(gbk_).substr(offset, length), false);
}

Result AnalyzeSource(const SourceText& source, const Options& options) {
    Result result = Analyze(source.Gbk(), options);
    if (source.MissingCharacters().empty()) return result;
    for (const SourceText::Missing& m : source.MissingCharacters()) {
        char message[96];
        if (m.codePoint == 0xFFFD)
            snprintf(message, sizeof message, "a byte that is not UTF-8: it reads as '?'");
        else
            snprintf(message, sizeof message, "U+%04X has no GBK form: it reads as '?'", m.codePoint);
        result.findings.push_back(Finding{m.offset, 1, Severity::kWarning, "gbk-unmappable", message});
    }
    std::stable_sort(result.findings.begin(), result.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
    return result;
}

}  // namespace qotool::analysis
