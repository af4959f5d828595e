#include "host/glossary.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/host_log.h"
#include "host/sql_database.h"
#include "platform/file_io.h"
#include "platform/ui.h"
#include "qotool/cstring.h"
#include "qotool/host.h"
#include "textutil/gbk_scan.h"

namespace qotool::host {

const char kExportDataSource[] = "new=vfp;DSN=rufxp;SourceDB=c:\\;SourceType=DBF";
const char kExportConnection[] = "DSN=rufxp";

namespace {

using textutil::FindText;
using textutil::kNotFound;

constexpr char kFormFeed = '\f';
constexpr char kAttached[] = "\r\n;";    // how an attached line follows its line
constexpr char kEndEntry[] = "\f[END]";  // closes every loaded file, followed by its path
constexpr char kLanguageKey[] = "S:Language";
constexpr int kMaxLanguages = 20;
constexpr int kMaxSpacesRemoved = 99;  // around each form feed, on each side
constexpr size_t kMaxItemName = 20;
constexpr size_t kExportTextLength = 90;
constexpr char kCannotLoad[] = "不能加载文件";
constexpr char kInvalidCommand[] = "Function ruqo_Gtc Has Invalid Command：%s";
constexpr char kExportTable[] = "C:\\GlossaryOut.dbf";
constexpr char kWriteFailure[] = "***Write Failure***";

struct State {
    std::string text;
    // Every key an entry field answers to -> offset of the field's form feed.
    std::unordered_map<std::string_view, size_t> index;
    int language = 1;
    bool keySuffix = false;
    std::string result;
};

// Made on first use and never destroyed.
State& Glossary() {
    static State* state = new State;
    return *state;
}

void Reindex(State& s) {
    s.index.clear();
    const std::string_view text = s.text;
    for (size_t ff = text.find(kFormFeed); ff != std::string_view::npos; ff = text.find(kFormFeed, ff + 1)) {
        if (ff + 1 >= text.size() || text[ff + 1] != '[') continue;
        const size_t end = std::min(text.find(kFormFeed, ff + 1), text.size());
        const std::string_view field = text.substr(ff + 2, end - ff - 2);
        for (size_t i = 0; i < field.size(); i += textutil::CharLength(field, i))
            if (field[i] == ']') s.index.emplace(field.substr(0, i), ff);
    }
}

// The form feed that starts the first field "[key]...", or npos.
size_t FindEntry(const State& s, std::string_view key) {
    if (key.find(kFormFeed) != std::string_view::npos)  // never in the index
        return FindText(s.text, "\f[" + std::string(key) + "]");
    const auto it = s.index.find(key);
    return it == s.index.end() ? kNotFound : it->second;
}

// The field of a language, counting fields from after (the end of the key
// field); false when a field boundary is missing, or the field is empty or
// is the next entry. A lookup walks over whatever fields it passes; within
// the entry, the walk also stops at the next entry on its way.
bool LanguageField(const State& s, size_t after, int language, std::string_view& field, bool withinEntry = false) {
    const std::string_view text = s.text;
    size_t pos = after;
    for (int i = 0; i < language; ++i) {
        const size_t ff = text.find(kFormFeed, pos);
        if (ff == std::string_view::npos) return false;
        if (withinEntry && i > 0 && pos < text.size() && text[pos] == '[') return false;
        pos = ff + 1;
    }
    field = text.substr(pos, std::min(text.find(kFormFeed, pos), text.size()) - pos);
    return !field.empty() && field[0] != '[';
}

std::string_view Trimmed(std::string_view text) {
    const char* spaces = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

// The text of key in the current language; false (and nothing in out) when
// the key or item is absent.
bool Text(const State& s, std::string_view key, std::string& out) {
    const size_t dot = key.find('.');
    if (dot != std::string_view::npos) {
        std::string whole = kAttached;
        std::string entry;
        if (!Text(s, key.substr(0, dot), entry)) entry = key.substr(0, dot);
        whole += entry;
        whole += kAttached;
        const std::string needle = kAttached + std::string(key.substr(dot + 1)) + "=";
        const size_t at = FindText(whole, needle);
        if (at == kNotFound) return false;
        const size_t start = at + needle.size();
        const size_t end = std::min(FindText(whole, kAttached, start), whole.size());
        out = Trimmed(std::string_view(whole).substr(start, end - start));
    } else {
        const size_t entry = FindEntry(s, key);
        std::string_view field;
        if (entry == kNotFound || !LanguageField(s, entry + 3 + key.size(), s.language, field)) return false;
        out = field;
    }
    if (s.keySuffix) out += key;
    return true;
}

// The text of key, or the key itself.
std::string TextOrKey(const State& s, std::string_view key) {
    std::string out;
    if (!Text(s, key, out)) out = key;
    return out;
}

const char* Load(State& s, const char* argument) {
    const bool add = argument[0] == '+';
    const char* path = add ? argument + 1 : argument;
    if (!add) {
        s.text.clear();
        Reindex(s);
    }
    std::string content;
    if (!platform::ReadWholeFile(path, content)) {
        platform::ShowMessageBox(path, kCannotLoad, platform::kMbOk);
        return "";
    }
    const std::string raw = kFormFeed + content + kEndEntry + path;
    // Line ends become form feeds, tabs spaces.
    std::string lines;
    lines.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            lines += kFormFeed;
            ++i;
        } else {
            lines += raw[i] == '\t' ? ' ' : raw[i];
        }
    }
    // Spaces before form feeds go, then spaces after them.
    std::string trimmed;
    trimmed.reserve(lines.size());
    for (char c : lines) {
        for (int n = 0; c == kFormFeed && n < kMaxSpacesRemoved && !trimmed.empty() && trimmed.back() == ' '; ++n)
            trimmed.pop_back();
        trimmed += c;
    }
    std::string joined;
    joined.reserve(trimmed.size() + trimmed.size() / 8);
    for (size_t i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] != kFormFeed) {
            joined += trimmed[i];
            continue;
        }
        size_t next = i + 1;
        for (int n = 0; n < kMaxSpacesRemoved && next < trimmed.size() && trimmed[next] == ' '; ++n) ++next;
        // A form feed before ";" is the line end of an attached line again.
        if (next < trimmed.size() && trimmed[next] == ';')
            joined += "\r\n";
        else
            joined += kFormFeed;
        i = next - 1;
    }
    s.text += joined;
    Reindex(s);
    return s.text.c_str();
}

const char* Language(State& s, const char* argument) {
    const long number = strtol(argument, nullptr, 10);
    if (number > 0) {
        s.language = (int)std::min<long>(number, INT_MAX);
        s.keySuffix = false;
    } else if (number < 0) {
        s.language = (int)std::min<long>(-number, INT_MAX);
        s.keySuffix = true;
    }
    s.result = std::to_string(s.language);
    return s.result.c_str();
}

// Start of the last character of text (text not empty).
size_t LastCharStart(std::string_view text) {
    size_t last = text.size() - 1;
    if (last > 0 && textutil::IsLeadByte(text[last - 1]) && textutil::IsCharStart(text, 0, last - 1)) --last;
    return last;
}

// Whether kept ends with "\" + c or "\<" + c, c being one character.
std::string_view EscapedEnd(std::string_view kept) {
    if (kept.empty()) return {};
    const size_t last = LastCharStart(kept);
    const bool escaped =
        (last >= 1 && kept[last - 1] == '\\' && textutil::IsCharStart(kept, 0, last - 1)) ||
        (last >= 2 && kept[last - 2] == '\\' && kept[last - 1] == '<' && textutil::IsCharStart(kept, 0, last - 2));
    return escaped ? kept.substr(last) : std::string_view();
}

// Expands every %[KEY] of text by the key's text. The expansion works from
// the last reference back, as each replacement is the key's text followed by
// the expanded rest; it is built reversed so that each step is an append.
const char* Macro(State& s, const char* argument) {
    const std::string_view text = argument;
    struct Reference {
        std::string_view kept, key;
    };
    std::vector<Reference> references;
    size_t pos = 0;
    for (size_t at; (at = FindText(text, "%[", pos)) != kNotFound;) {
        const size_t close = FindText(text, "]", at + 2);
        const size_t keyEnd = close == kNotFound ? text.size() : close;
        references.push_back({text.substr(pos, at - pos), text.substr(at + 2, keyEnd - at - 2)});
        pos = close == kNotFound ? text.size() : close + 1;
    }
    if (references.empty()) {
        s.result = text;
        return s.result.c_str();
    }
    std::string reversed(text.substr(pos).rbegin(), text.substr(pos).rend());
    for (size_t i = references.size(); i-- > 0;) {
        std::string replacement = TextOrKey(s, references[i].key);
        const std::string_view escaped = EscapedEnd(references[i].kept);
        if (!escaped.empty()) {
            if (!replacement.empty()) {
                if (replacement.compare(0, escaped.size(), escaped) == 0) replacement.erase(0, escaped.size());
            } else if (reversed.size() >= escaped.size() &&
                       std::equal(escaped.begin(), escaped.end(), reversed.rbegin())) {
                reversed.resize(reversed.size() - escaped.size());
            }
        }
        reversed.append(replacement.rbegin(), replacement.rend());
        reversed.append(references[i].kept.rbegin(), references[i].kept.rend());
    }
    s.result.assign(reversed.rbegin(), reversed.rend());
    return s.result.c_str();
}

const char* Reference(State& s, const char* argument) {
    const std::string_view text = argument;
    const size_t at = FindText(text, "%[");
    if (at == kNotFound) {
        s.result = text;
    } else {
        const size_t close = FindText(text, "]", at + 2);
        s.result = text.substr(at + 2, (close == kNotFound ? text.size() : close) - at - 2);
    }
    return s.result.c_str();
}

// ---- Check and export ---------------------------------------------------

struct ExportRow {
    std::string key;
    std::vector<std::string> texts;  // languages 1 to the language count
};

struct Check {
    explicit Check(State& state) : s(state) {}
    State& s;
    int languages = 1;
    std::vector<ExportRow> rows;
    std::string report;
    std::unordered_set<std::string> seen, reportedRepeat;

    // A key met before is reported once; true when the key is new.
    bool Take(const std::string& key) {
        if (seen.insert(key).second) return true;
        if (reportedRepeat.insert(key).second) report += "[" + key + "?Repeat]";
        return false;
    }
    void Missing(const std::string& key) { report += "[" + key + "<Language]"; }

    void Entry(size_t formFeed, std::string_view key) {
        const std::string name(key);
        if (!Take(name)) return;
        const size_t after = formFeed + 3 + key.size();
        ExportRow row{name, {}};
        std::string_view field;
        for (int language = 1; language <= languages; ++language) {
            if (LanguageField(s, after, language, field, true)) {
                row.texts.emplace_back(field);
            } else {
                row.texts.emplace_back();
                Missing(name);
            }
        }
        if (LanguageField(s, after, languages + 1, field, true)) report += "[" + name + ">Language]";
        rows.push_back(std::move(row));
        if (LanguageField(s, after, 1, field)) Items(name, std::string(field));
    }

    // The item lines of a language-1 text "ITEM=value\r\n;ITEM=value...".
    void Items(const std::string& key, const std::string& text) {
        for (size_t pos = 0;;) {
            const size_t equals = text.find('=', pos);
            if (equals == std::string::npos) return;
            const std::string name = text.substr(pos, equals - pos);
            if (name.size() > kMaxItemName || name.find_first_of("\r\n") != std::string::npos) return;
            const std::string item = key + "." + name;
            if (Take(item)) {
                ExportRow row{item, {}};
                const int saved = s.language;
                for (int language = 1; language <= languages; ++language) {
                    s.language = language;
                    std::string value;
                    if (!Text(s, item, value)) Missing(item);
                    row.texts.push_back(value);
                }
                s.language = saved;
                rows.push_back(std::move(row));
            }
            const size_t next = FindText(text, kAttached, equals);
            if (next == kNotFound) return;
            pos = next + sizeof kAttached - 1;
        }
    }

    void Walk() {
        const std::string_view text = s.text;
        for (size_t ff = text.find(kFormFeed); ff != std::string_view::npos; ff = text.find(kFormFeed, ff + 1)) {
            if (ff + 1 >= text.size() || text[ff + 1] != '[') continue;
            const size_t end = std::min(text.find(kFormFeed, ff + 1), text.size());
            const std::string_view field = text.substr(ff + 2, end - ff - 2);
            size_t close = 0;
            while (close < field.size() && field[close] != ']') close += textutil::CharLength(field, close);
            if (close >= field.size()) continue;
            const std::string_view key = field.substr(0, close);
            if (key == "BEGIN" || key == "END") continue;
            Entry(ff, key);
        }
    }
};

// A text as the export writes it: at most 90 bytes and " ...", line breaks
// as "\/", quoted.
std::string ExportText(std::string text) {
    if (text.size() > kExportTextLength) text = text.substr(0, kExportTextLength) + " ...";
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            flat += "\\/";
            ++i;
        } else {
            flat += text[i];
        }
    }
    if (flat.find('\'') == std::string::npos) return "'" + flat + "'";
    std::string quoted = "\"";
    for (char c : flat) quoted += c == '"' ? std::string("''") : std::string(1, c);
    return quoted + "\"";
}

void ReportFailure(const std::string& statement, const std::string& error) {
    Log(kLogWarning, error.c_str(), statement.c_str());
}

void Export(const Check& check) {
    SqlDatabase& database = ExportDatabase();
    database.CreateDataSource(kExportDataSource);
    std::string error;
    if (!database.Open(kExportConnection, error)) {
        ReportFailure(kExportConnection, error);
        return;
    }
    std::string columns;
    std::string create = std::string("create table ") + kExportTable + "(f_name char(32)";
    for (int language = 1; language <= check.languages; ++language) {
        CString column;
        column.Format(",f_title%d", language);
        columns += column.c_str();
        create += column.c_str();
        create += " char(100)";
    }
    create += ")";
    if (!database.Execute(create, error)) ReportFailure(create, error);
    for (const ExportRow& row : check.rows) {
        std::string insert =
            std::string("insert into ") + kExportTable + "(f_name" + columns + ") values ('" + row.key + "'";
        for (const std::string& text : row.texts) insert += "," + ExportText(text);
        insert += ")";
        if (database.Execute(insert, error)) continue;
        ReportFailure(insert, error);
        CString fallback;
        fallback.Format("insert into %s(f_name,f_title1) values ('%s','%s')", kExportTable, row.key.c_str(),
                        kWriteFailure);
        if (!database.Execute(fallback.c_str(), error)) ReportFailure(fallback.c_str(), error);
    }
    database.Close();
}

const char* CheckAndExport(State& s) {
    const int savedLanguage = s.language;
    s.language = 1;
    s.keySuffix = false;
    Check check(s);
    const std::string names = TextOrKey(s, kLanguageKey);
    for (size_t at = FindText(names, ";"); at != kNotFound && check.languages < kMaxLanguages;
         at = FindText(names, ";", at + 1))
        ++check.languages;
    check.Walk();
    Export(check);
    s.language = savedLanguage;
    s.result = check.report;
    return s.result.c_str();
}

const char* Command(const char* command, const char* argument) {
    State& s = Glossary();
    switch (command[0] >= 'a' && command[0] <= 'z' ? command[0] - 32 : command[0]) {
        case 'F':
            return Load(s, argument);
        case 'L':
            return Language(s, argument);
        case 'M':
            return Macro(s, argument);
        case 'T':
            return Reference(s, argument);
        case 'C':
            return CheckAndExport(s);
        case 'W':
            return "";
        default: {
            CString message;
            message.Format(kInvalidCommand, command);
            platform::ShowMessageBox(message, platform::kPromptCaption, platform::kMbOk);
            return "";
        }
    }
}

}  // namespace

const std::string& GlossaryText() { return Glossary().text; }

void ResetGlossaryForTest() {
    State& s = Glossary();
    s.text.clear();
    Reindex(s);
    s.language = 1;
    s.keySuffix = false;
    s.result.clear();
}

}  // namespace qotool::host

using qotool::host::Glossary;

extern "C" QO_API const char* ruqo_Gt(const char* key) {
    if (!key) return "";
    try {
        auto& s = Glossary();
        std::string text;
        if (!qotool::host::Text(s, key, text)) return key;
        s.result = std::move(text);
        return s.result.c_str();
    } catch (...) {
        return "";
    }
}

extern "C" QO_API const char* ruqo_Gts(const char* key, int n, const char* separator) {
    if (!key || !separator) return "";
    try {
        auto& s = Glossary();
        const std::string text = qotool::host::TextOrKey(s, key);
        const std::string_view sep = separator;
        size_t pos = 0;
        for (int i = 1, found = 0; i < n; ++i, ++found) {
            const size_t at = qotool::textutil::FindText(text, sep, pos);
            if (at == qotool::textutil::kNotFound) {
                CString missing;
                missing.Format("%s[%d]", key, n - found);
                s.result = missing.c_str();
                return s.result.c_str();
            }
            pos = at + sep.size();
        }
        const size_t end = std::min(qotool::textutil::FindText(text, sep, pos), text.size());
        s.result = qotool::host::Trimmed(std::string_view(text).substr(pos, end - pos));
        return s.result.c_str();
    } catch (...) {
        return "";
    }
}

extern "C" QO_API const char* ruqo_Gtc(const char* command, const char* argument) {
    if (!command || !argument) return "";
    try {
        return qotool::host::Command(command, argument);
    } catch (...) {
        return "";
    }
}
