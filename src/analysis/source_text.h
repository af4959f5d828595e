// A QOL text as the analysis reads it (GBK bytes) together with the map back
// to the text as an editor or terminal holds it: lines, character columns
// and UTF-16 columns (the positions of the Language Server Protocol). A
// UTF-8 text is converted character by character, so the map is exact: a
// two-byte GBK character is one character and one UTF-16 unit; a character
// GBK lacks becomes '?', as the runner reads it, and keeps its own width.
#ifndef QOTOOL_ANALYSIS_SOURCE_TEXT_H
#define QOTOOL_ANALYSIS_SOURCE_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"

namespace qotool::analysis {

class SourceText {
public:
    static SourceText FromUtf8(std::string_view utf8);
    static SourceText FromGbk(std::string gbk);
    // UTF-8 when the bytes are valid UTF-8 with a non-ASCII character (the
    // runner's automatic choice), else GBK.
    static SourceText FromFile(std::string_view bytes);

    const std::string& Gbk() const { return gbk_; }
    uint32_t LineCount() const { return (uint32_t)lineStarts_.size(); }
    uint32_t LineOf(uint32_t offset) const;  // 0-based
    uint32_t LineStart(uint32_t line) const;
    uint32_t LineEnd(uint32_t line) const;   // before its line feed (and carriage return)
    // Columns of a byte offset within its line, 0-based.
    uint32_t CharacterColumn(uint32_t offset) const;
    uint32_t Utf16Column(uint32_t offset) const;
    // The byte offset of a UTF-16 position; past the end of a line is its
    // end, past the last line the end of the text. Inside a character, the
    // character's start.
    uint32_t OffsetOfUtf16(uint32_t line, uint32_t column) const;
    // The text of [offset, offset + length) as UTF-8.
    std::string Utf8(uint32_t offset, uint32_t length) const;

    struct Missing {
        uint32_t offset;  // of the '?' that stands for it
        uint32_t codePoint;
    };
    const std::vector<Missing>& MissingCharacters() const { return missing_; }

private:
    void IndexLines();
    // Width of the character at offset: bytes and UTF-16 units.
    void Step(uint32_t offset, uint32_t* bytes, uint32_t* units) const;

    std::string gbk_;
    std::vector<uint32_t> lineStarts_;
    std::vector<Missing> missing_;  // by offset
};

// The analysis of a source, with a warning for every character GBK lacks.
Result AnalyzeSource(const SourceText& source, const Options& options = {});

}  // namespace qotool::analysis

#endif
