#include "diag/debug_panes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/debugger_seam.h"
#include "qotool/qolanguage.h"
#include "qotool/qolvardefine.h"

namespace qotool::diag {

namespace {

const char kQuoteOpen[] = "“";
const char kQuoteClose[] = "”";

std::string Format(const char* format, int a, int b = 0) {
    char buffer[96];
    snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

}  // namespace

size_t CharBoundary(std::string_view text, size_t limit) {
    if (limit >= text.size()) return text.size();
    size_t i = 0;
    while (i < limit) {
        size_t step = ((unsigned char)text[i] >= 0x80 && i + 1 < text.size()) ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

std::string PaneValue(std::string_view value) {
    std::string_view shown = value;
    if (value.size() > 512) shown = value.substr(0, CharBoundary(value, 500));
    std::string out;
    out.reserve(shown.size() + 16);
    for (size_t i = 0; i < shown.size(); ++i) {
        const unsigned char c = (unsigned char)shown[i];
        if (c >= 0x80 && i + 1 < shown.size()) {
            out += shown[i];
            out += shown[++i];
            continue;
        }
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case 0: out += "\\0"; break;
        default: out += (char)c;
        }
    }
    if (value.size() > 512) out += Format("......总长度%d", (int)value.size());
    return out;
}

std::string VariablesPane(CQoLanguage* qo) {
    std::string out;
    if (!qo || !qo->m_pVars) return out;
    const int top = qo->m_nScopeLevel < 0 ? 0 : qo->m_nScopeLevel;
    for (int k = top; k >= 0; --k) {
        out += Format("-------- 第%d层 --------\r\n", k);
        const engine::ScopeRange scope = engine::VariablesOfScope(qo, k);
        for (int i = scope.begin; i < scope.end; ++i) {
            const QoLVarDefine* v = engine::VariableAt(qo, i);
            const bool text = v->m_cType == 'S';
            out += v->m_cType;
            out += "型 ";
            out.append(v->m_strName.view());
            out += " = ";
            if (text) out += kQuoteOpen;
            out += PaneValue(v->m_strDef.view());
            if (text) out += kQuoteClose;
            out += "\r\n";
        }
    }
    if (engine::ArrayCount(qo) > 0) {
        out += "\r\n数组：\r\n";
        for (int i = engine::ArrayCount(qo) - 1; i >= 0; --i) {
            const engine::ArrayShape a = engine::ArrayAt(qo, i);
            out.append(a.name);
            if (a.columns <= 1)
                out += Format("[%d元素]\r\n", a.rows);
            else
                out += Format("[%d行,%d列]\r\n", a.rows, a.columns);
        }
    }
    return out;
}

std::string FullValue(CQoLanguage* qo) {
    if (!qo) return std::string();
    if (qo->m_cType == 'X') return std::string(qo->m_strError.view());
    if (qo->m_cType == 'Z') return std::string();
    CString text = qo->GetValueString();
    return std::string(text.view());
}

std::string RowValue(CQoLanguage* qo) {
    std::string value = FullValue(qo);
    if (qo && qo->m_cType == 'X') {
        size_t at = value.find("【位于】");
        if (at != std::string::npos) value.resize(at);
    }
    if (value.size() > 200) {
        const int total = (int)value.size();
        value.resize(CharBoundary(value, 180));
        value += Format("......<总长%d>", total);
    }
    if (qo && qo->m_cType == 'S') value = kQuoteOpen + value + kQuoteClose;
    return value;
}

const char* TextHolding(QoLRunContext* run, const char* position) {
    if (!run || !position) return nullptr;
    for (int lv = 0; lv <= engine::RunLevel(run); ++lv) {
        const char* start = engine::LevelText(run, lv);
        if (!start || position < start) continue;
        if (position > start + strlen(start)) continue;
        return start;
    }
    return nullptr;
}

int LineOf(const char* text, const char* position) {
    if (!text || !position || position < text) return 0;
    int line = 1;
    for (const char* p = text; p < position && *p; ++p)
        if (*p == '\n') ++line;
    return line;
}

size_t FileHeaderLength(const char* text) {
    static const char kOpen[] = "〖";
    static const char kClose[] = "〗\r\n";
    if (!text || strncmp(text, kOpen, 2) != 0) return 0;
    const char* end = strchr(text, '\n');
    if (!end || end - text < 5 || strncmp(end - 3, kClose, 4) != 0) return 0;
    return (size_t)(end + 1 - text);
}

SourcePlace PlaceOf(QoLRunContext* run, const char* position) {
    SourcePlace place;
    place.text = TextHolding(run, position);
    if (!place.text) return place;
    for (int lv = 0; lv <= engine::RunLevel(run); ++lv) {
        const char* start = engine::LevelText(run, lv);
        if (!start) continue;
        if (!place.listingLevel) place.listingLevel = start;  // the outermost text, unless a file comes
        if (FileHeaderLength(start)) {
            place.listingLevel = start;
            break;
        }
    }
    const size_t header = FileHeaderLength(place.listingLevel);
    if (header) place.file.assign(place.listingLevel + 2, header - 6);
    place.listing = std::string_view(place.listingLevel + header);
    if (place.text == place.listingLevel) {
        place.textAt = -(long)header;
        place.offset = std::max(0L, (long)(position - place.text) - (long)header);
    } else {
        place.textAt = engine::OffsetInSource(place.text, 0, place.listing);
        place.offset = engine::OffsetInSource(place.text, position - place.text, place.listing);
    }
    if (place.offset >= 0) engine::LineAndColumn(place.listing, place.offset, place.line, place.column);
    return place;
}

SourcePane BuildSourcePane(const std::vector<SourceLevel>& levels) {
    SourcePane pane;
    pane.markerAt.assign(levels.size(), 0);
    pane.markerEnd.assign(levels.size(), 0);
    size_t i = 0;
    const char* previousText = nullptr;
    while (i < levels.size()) {
        const char* start = levels[i].start;
        // The group: the following levels in the same text at positions
        // that do not go back.
        size_t j = i + 1;
        while (j < levels.size() && levels[j].start == start && start && levels[j].position >= levels[j - 1].position)
            ++j;
        if (pane.texts > 0) {
            const char* rule = start && start == previousText ? "\xA9\xAD" : "\xA9\xA5";
            pane.text += "\r\n";
            for (int k = 0; k < 75; ++k) pane.text += rule;
            pane.text += "\r\n";
        }
        ++pane.texts;
        previousText = start;
        const char* cursor = start;
        for (size_t k = i; k < j; ++k) {
            if (start) {
                const char* at = levels[k].position;
                if (!at || at < cursor) at = cursor;
                pane.text.append(cursor, (size_t)(at - cursor));
                cursor = at;
            }
            pane.markerAt[k] = pane.text.size();
            pane.text += Format("【%d】", levels[k].level);
            pane.markerEnd[k] = pane.text.size();
        }
        if (start) pane.text.append(cursor);
        i = j;
    }
    return pane;
}

}  // namespace qotool::diag
