// The texts of the debugger's panes, computed from an interpreter's state:
// the variables pane, the level row texts and the source pane with its
// level markers and separators. Pure functions of the state they are given.
#ifndef QOTOOL_DIAG_DEBUG_PANES_H
#define QOTOOL_DIAG_DEBUG_PANES_H

#include <string>
#include <string_view>
#include <vector>

class CQoLanguage;
class QoLRunContext;

namespace qotool::diag {

// A byte count that does not split a GBK character: the largest length
// <= limit that ends on a character boundary of text.
size_t CharBoundary(std::string_view text, size_t limit);

// A value as the variables pane shows it: tab, backslash, CR, LF and NUL
// written "\t", "\\", "\r", "\n", "\0"; a value longer than 512 bytes is
// cut to its first 500 followed by "......总长度%d".
std::string PaneValue(std::string_view value);

// The variables pane of an interpreter: per scope level from the innermost
// outwards "-------- 第%d层 --------\r\n" and its variables
// "%c型 %s = %s%s%s\r\n" (strings in “ ”); then "\r\n数组：\r\n" and the
// arrays "%s[%d元素]\r\n" or "%s[%d行,%d列]\r\n".
std::string VariablesPane(CQoLanguage* qo);

// The 结果值 text of a level row: strings in “ ”, cut to 180 bytes and
// "......<总长%d>" when longer than 200; an error cut before "【位于】".
std::string RowValue(CQoLanguage* qo);
// The full value text (the 结果值 box).
std::string FullValue(CQoLanguage* qo);

// The start of the text (one of the run's level texts) that holds
// position, or null.
const char* TextHolding(QoLRunContext* run, const char* position);
// Line number (from 1) of position in text.
int LineOf(const char* text, const char* position);

// A file's text starts with the header line "〖path〗\r\n", which is not
// one of the file's lines: its length, 0 when text has none.
size_t FileHeaderLength(const char* text);

// Where a position lies in the source a person wrote, as the error reports
// name a place: the listing is the text the lines count in (the text of the
// file the run reads, after its header, else the run's outermost text);
// file is that file's path ("" without one). A function runs from a copy of
// its definition, which is found in the listing as the error reports find
// it. offset is -1 (line and column 0) when the position is not in it.
struct SourcePlace {
    std::string file;
    const char* listingLevel = nullptr;  // the level text that holds the listing (with the header)
    std::string_view listing;
    const char* text = nullptr;  // the level text that holds the position
    long textAt = -1;            // where text starts in listing: -1 not found; text the
                                 // listing's own level text: minus its header's length
    long offset = -1;
    int line = 0, column = 0;
};
SourcePlace PlaceOf(QoLRunContext* run, const char* position);

// One level of the source pane: its text's start and its current position.
struct SourceLevel {
    int level;
    const char* start;     // null: the level has no text
    const char* position;
};

struct SourcePane {
    std::string text;
    std::vector<size_t> markerAt;  // offset of each level's marker (index = entry in levels)
    std::vector<size_t> markerEnd;
    int texts = 0;  // number of distinct text copies
};

// The texts of the levels, each level's position marked "【%d】"; levels
// in the same text at non-decreasing positions share one copy; a different
// text is separated by 75 "━", a text re-entered at an earlier position by
// 75 "┅" (each on its own line).
SourcePane BuildSourcePane(const std::vector<SourceLevel>& levels);

}  // namespace qotool::diag

#endif
