#include "debugger_screen.h"

#include <algorithm>
#include <cstring>

#include "platform/encoding.h"

namespace qol::screen {

Encoding g_encoding = Encoding::kAuto;

std::string Out(std::string_view gbk) {
    if (g_encoding == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, true);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(begin, end - begin));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end >= text.size()) break;
        begin = end + 1;
    }
    return lines;
}

// "FILE:LINE:COLUMN" of a stop, as the error reports name places (a run of
// -e TEXT reads no file).
std::string Place(const QoDebugSnapshot* s) {
    std::string place = s->file && *s->file ? Out(s->file) : std::string(u8"-e");
    if (s->line > 0) place += ":" + std::to_string(s->line);
    if (s->line > 0 && s->column > 0) place += ":" + std::to_string(s->column);
    return place;
}

std::string WatchLine(const QoDebugSnapshot* s, int i) {
    return std::string(u8"watch ") + std::to_string(i + 1) + u8" " + Out(s->watch[i]) + u8" = " +
           Out(s->watch_result[i]);
}

namespace {

// Display width of a character (code point) on a terminal: East Asian wide
// and fullwidth forms take two columns, combining marks none.
int CharWidth(unsigned c) {
    if (c == 0) return 0;
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE20 && c <= 0xFE2F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The character of a shown text (in the terminal's encoding) at i: its
// length in bytes and its width in columns.
void NextChar(const std::string& text, size_t i, size_t& length, int& width) {
    const unsigned char c = (unsigned char)text[i];
    length = 1;
    unsigned code = c;
    if (c >= 0x80) {
        if (g_encoding == Encoding::kGbk) {
            length = i + 1 < text.size() ? 2 : 1;
            code = 0x4E00;  // a double-byte character: two columns
        } else {
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (i + length > text.size()) length = text.size() - i;
            code = length == 1 ? '?' : c & (0x3F >> (length - 1));
            for (size_t k = 1; k < length; ++k) code = code << 6 | ((unsigned char)text[i + k] & 0x3F);
        }
    }
    width = CharWidth(code);
}

}  // namespace

// A text as the terminal shows it (in its encoding) cut to width columns:
// tabs become blanks to the next multiple of 4, other control characters
// "?", so that nothing a script holds can move the cursor.
std::string Fit(const std::string& text, int width) {
    std::string out;
    int used = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '\t') {
            const int blanks = 4 - used % 4;
            if (used + blanks > width) break;
            out.append((size_t)blanks, ' ');
            used += blanks;
            ++i;
            continue;
        }
        size_t length = 1;
        int w = 1;
        NextChar(text, i, length, w);
        if (used + w > width) break;
        if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out.append(text, i, length);
        used += w;
        i += length;
    }
    return out;
}

namespace {

// Columns of a text that Fit gave.
int Width(const std::string& shown) {
    int width = 0;
    for (size_t i = 0, length = 1; i < shown.size(); i += length) {
        int w = 1;
        NextChar(shown, i, length, w);
        width += w;
    }
    return width;
}

// "title" without the window's hot keys, which a terminal does not have.
std::string ShortTitle(const char* title) {
    std::string t = title ? title : "";
    const size_t keys = t.find("快捷键");
    if (keys != std::string::npos) t.resize(keys);
    while (!t.empty() && (t.back() == ' ' || t.back() == '(')) t.pop_back();
    return Out(t);
}

std::string Rule(const std::string& label, int width) {
    std::string line = Fit(u8"-- " + label + u8" ", width);
    line.append((size_t)std::max(0, width - Width(line)), '-');
    return line;
}

// Whether name is used in sentence as a whole name.
bool Mentions(const std::string& sentence, const std::string& name) {
    if (name.empty()) return false;
    auto isNameByte = [](char c) {
        const unsigned char u = (unsigned char)c;
        return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z');
    };
    for (size_t at = sentence.find(name); at != std::string::npos; at = sentence.find(name, at + 1)) {
        const bool before = at > 0 && isNameByte(sentence[at - 1]);
        const bool after = at + name.size() < sentence.size() && isNameByte(sentence[at + name.size()]);
        if (!before && !after) return true;
    }
    return false;
}

// The variables pane (GBK) for the screen: the innermost level's variables
// (those the sentence names first) without its header, then the outer
// levels and the arrays as the pane gives them.
std::vector<std::string> VariableLines(const QoDebugSnapshot* s) {
    std::vector<std::string> lines = SplitLines(s->variables ? s->variables : "");
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    const std::string header = "-------- ";
    size_t first = 0;
    if (!lines.empty() && lines[0].compare(0, header.size(), header) == 0) first = 1;
    size_t end = first;
    while (end < lines.size() && !lines[end].empty() && lines[end].compare(0, header.size(), header) != 0) ++end;
    const std::string sentence = s->sentence ? s->sentence : "";
    std::vector<std::string> named, others;
    for (size_t i = first; i < end; ++i) {
        // "T型 name = value"
        const std::string& line = lines[i];
        const size_t equals = line.find(" = ");
        const std::string name = line.size() > 4 && equals != std::string::npos ? line.substr(4, equals - 4) : "";
        (Mentions(sentence, name) ? named : others).push_back(line);
    }
    std::vector<std::string> out;
    for (auto* part : {&named, &others})
        for (std::string& line : *part) out.push_back(Out(line));
    for (size_t i = end; i < lines.size(); ++i)
        if (!lines[i].empty()) out.push_back(Out(lines[i]));
    return out;
}

// The listing's lines around the selected position, "> 12  text" for its
// line; without a listing, the library's source pane around its marker.
std::vector<std::string> SourceLines(const QoDebugSnapshot* s, int count, int width) {
    std::vector<std::string> out;
    const bool numbered = s->listing && *s->listing && s->listing_offset >= 0;
    const std::string_view text = numbered ? s->listing : (s->source ? s->source : "");
    const size_t at = numbered ? (size_t)s->listing_offset : s->selection_start;
    std::vector<size_t> starts{0};
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') starts.push_back(i + 1);
    const size_t current = (size_t)(std::upper_bound(starts.begin(), starts.end(), at) - starts.begin()) - 1;
    const size_t before = (size_t)std::max(0, (count - 1) / 3);
    size_t begin = current > before ? current - before : 0;
    const size_t end = std::min(starts.size(), begin + (size_t)count);
    if (end - begin < (size_t)count) begin = end > (size_t)count ? end - (size_t)count : 0;
    const int digits = (int)std::to_string(end).size();
    for (size_t i = begin; i < end; ++i) {
        std::string_view line = text.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] - 1 : text.size()) - starts[i]);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string margin = i == current ? u8">" : u8" ";
        if (numbered) {
            const std::string number = std::to_string(i + 1);
            margin += std::string((size_t)(digits - (int)number.size()), ' ') + number + u8"  ";
        }
        out.push_back(margin + Fit(Out(line), width - (int)margin.size()));
    }
    return out;
}

void Pad(std::vector<std::string>& lines, size_t count) {
    if (lines.size() > count) lines.resize(count);
    while (lines.size() < count) lines.emplace_back();
}

}  // namespace

// The screen's rows above the prompt row.
std::vector<std::string> Layout(const QoDebugSnapshot* s, const std::vector<std::string>& message, int rows,
                                int columns) {
    const int width = columns - 1;
    std::vector<std::string> screen;
    std::string title = ShortTitle(s->title) + u8"  " + Out(s->event) + u8"  " + Place(s);
    if (s->level > 0) title += u8"  level " + std::to_string(s->level);
    title = Fit(title, width);
    screen.push_back(u8"\x1b[7m" + title + u8"\x1b[0m");
    const int body = rows - 2;
    std::vector<std::string> answer;
    for (const std::string& line : message) answer.push_back(Fit(line, width));
    if ((int)answer.size() > body / 2) {
        // A long answer takes the whole body.
        if ((int)answer.size() > body) {
            const size_t more = answer.size() - (size_t)body + 1;
            answer.resize((size_t)body - 1);
            answer.push_back(Fit(u8"... " + std::to_string(more) + u8" more lines", width));
        }
        Pad(answer, (size_t)body);
        screen.insert(screen.end(), answer.begin(), answer.end());
        return screen;
    }
    const int panes = body - (int)answer.size();
    // The level list: the current row and its neighbours.
    const int levelRows = std::max(1, std::min(s->row_count, panes / 6));
    int firstRow = std::max(0, std::min(s->current_row - levelRows / 2, s->row_count - levelRows));
    for (int i = firstRow; i < firstRow + levelRows && i < s->row_count; ++i) {
        const QoDebugRow& r = s->rows[i];
        const std::string row = (i == s->current_row ? u8">" : u8" ") +
                                Out(std::string(r.depth) + " " + r.label + " " + r.type + " " + r.assigned + " " +
                                    r.position + " " + r.value);
        screen.push_back(Fit(row, width));
    }
    while ((int)screen.size() < 1 + levelRows) screen.emplace_back();
    const int rest = panes - levelRows - 2;
    std::vector<std::string> source = SourceLines(s, std::max(1, s->wide ? rest * 3 / 4 : rest * 11 / 20), width);
    std::vector<std::string> variables;
    for (int i = 0; i < 3; ++i)
        if (s->watch[i] && *s->watch[i]) variables.push_back(Fit(WatchLine(s, i), width));
    for (const std::string& line : VariableLines(s)) variables.push_back(Fit(line, width));
    // Rows the source leaves go to the variables, and the other way round.
    const int variableRows = std::min((int)variables.size(), std::max(0, rest - (int)source.size()));
    const int sourceRows = rest - variableRows;
    if ((int)source.size() < sourceRows) source = SourceLines(s, sourceRows, width);
    const bool numbered = s->listing && *s->listing && s->listing_offset >= 0;
    screen.push_back(Rule(numbered ? u8"source " + (s->file && *s->file ? Out(s->file) : std::string(u8"-e"))
                                   : std::string(u8"source"),
                          width));
    Pad(source, (size_t)sourceRows);
    screen.insert(screen.end(), source.begin(), source.end());
    screen.push_back(Rule(u8"variables", width));
    Pad(variables, (size_t)variableRows);
    screen.insert(screen.end(), variables.begin(), variables.end());
    screen.insert(screen.end(), answer.begin(), answer.end());
    return screen;
}

}  // namespace qol::screen
