// The analysis entry: the two passes, the names the text defines and
// reads, and the findings.
#include "analysis/analyzer.h"

#include <cstdio>

namespace qotool::analysis::walk {

Analyzer::Analyzer(std::string_view text, const Options& options) : text_(text), options_(options) {
    Lexed lexed = Lex(text);
    tokens_ = std::move(lexed.tokens);
    notes_ = std::move(lexed.notes);
    for (const std::string& f : options_.functions) extraFunctions_.insert(Lower(f));
    for (const std::string& v : options_.variables) assigned_.insert(v);
}

Result Analyzer::Run() {
    Pass(false);
    Pass(true);
    for (const LexNoteAt& note : notes_) ReportNote(note);
    // What an ErrorCheck block holds is its own report's business.
    auto& findings = result_.findings;
    findings.erase(std::remove_if(findings.begin(), findings.end(),
                                  [&](const Finding& f) {
                                      for (const auto& range : quiet_)
                                          if (f.offset >= range.first && f.offset < range.second) return true;
                                      return false;
                                  }),
                   findings.end());
    std::stable_sort(result_.findings.begin(), result_.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
    if (result_.findings.size() > kMaxFindings) result_.findings.resize(kMaxFindings);
    std::stable_sort(result_.references.begin(), result_.references.end(),
                     [](const Reference& a, const Reference& b) { return a.offset < b.offset; });
    std::stable_sort(result_.symbols.begin(), result_.symbols.end(),
                     [](const Symbol& a, const Symbol& b) { return a.offset < b.offset; });
    return std::move(result_);
}

bool Analyzer::AtWord(std::string_view name, size_t ahead) const {
    return T(ahead).kind == TokenKind::kWord && Is(Text(T(ahead)), name);
}

std::string Analyzer::Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return out;
}

void Analyzer::Report(uint32_t offset, uint32_t length, Severity severity, const char* code, std::string message) {
    if (!reporting_ || result_.findings.size() > kMaxFindings) return;
    if (unreachable_ && severity == Severity::kError) severity = Severity::kWarning;
    result_.findings.push_back(Finding{offset, length, severity, code, std::move(message)});
}

void Analyzer::Report(const Token& t, Severity severity, const char* code, std::string message) {
    Report(t.offset, std::max<uint32_t>(t.length, 1), severity, code, std::move(message));
}

void Analyzer::Refer(SymbolKind kind, std::string_view name, uint32_t offset, bool definition) {
    if (!reporting_) return;
    result_.references.push_back(Reference{kind, definition, std::string(name), offset, (uint32_t)name.size()});
}

void Analyzer::ReportNote(const LexNoteAt& note) {
    switch (note.note) {
    case LexNote::kOpenString:
        Report(note.offset, 1, Severity::kError, "unclosed-string",
               "the string literal is not closed before a line that ends in ';'");
        break;
    case LexNote::kOpenStringAtEnd:
        Report(note.offset, 1, Severity::kWarning, "unclosed-string",
               "the string literal is not closed: it runs to the end of the text");
        break;
    case LexNote::kOpenComment:
        Report(note.offset, 2, Severity::kWarning, "unclosed-comment", "'/*' without '*/': the rest of the text is a comment");
        break;
    case LexNote::kTrailBackslash: {
        char hex[32];
        snprintf(hex, sizeof hex, "\\x%02X\\x5C", (unsigned char)text_[note.offset]);
        Report(note.offset, 2, Severity::kWarning, "gbk-trail-backslash",
               Quoted(text_.substr(note.offset, 2)) + " ends in the byte 0x5C: inside a string literal that byte "
               "starts an escape; write it as " + hex);
        break;
    }
    }
}

std::string Analyzer::Name(std::string_view name) {
    std::string out(name);
    out.erase(std::remove(out.begin(), out.end(), '@'), out.end());
    return out;
}

void Analyzer::Define(std::string_view written, uint32_t offset) {
    const std::string name = Name(written);
    if (name.empty()) return;
    if (!reporting_) {
        assigned_.insert(name);
        if (!functions_stack_.empty()) {
            locals_[functions_stack_.back()].insert(name);
            anyLocal_.insert(name);
        }
    }
    Refer(SymbolKind::kVariable, name, offset, true);
}

bool Analyzer::IsLocal(const std::string& name) const {
    for (uint32_t f : functions_stack_) {
        auto it = locals_.find(f);
        if (it != locals_.end() && it->second.count(name)) return true;
    }
    return false;
}

void Analyzer::Read(std::string_view written, uint32_t offset, uint32_t length) {
    if (!reporting_ || written.empty() || unevaluated_) return;
    const std::string name = Name(written);
    Refer(SymbolKind::kVariable, name, offset, false);
    if (StartsWith(name, "system_") || Is(name, "PI") || Is(name, "true") || Is(name, "false") ||
        Is(name, "NULL") || Is(name, "TableBufferName"))
        return;
    const std::string& key = name;
    if (!functions_stack_.empty()) {
        if (IsLocal(key)) return;
        if (assigned_.count(key) || anyLocal_.count(key)) {
            Report(offset, length, Severity::kInformation, "dynamic-scope",
                   Quoted(name) + " is not assigned in this function: it is the caller's variable (dynamic scope)");
            return;
        }
    } else if (assigned_.count(key)) {
        return;
    }
    Report(offset, length, Guarded() ? Severity::kWarning : Severity::kError, "undefined-name",
           Quoted(name) + " is read, but no statement of the text assigns it");
}

}  // namespace qotool::analysis::walk

namespace qotool::analysis {

Result Analyze(std::string_view gbk, const Options& options) { return walk::Analyzer(gbk, options).Run(); }

const char* SeverityName(Severity severity) {
    switch (severity) {
    case Severity::kError: return "error";
    case Severity::kWarning: return "warning";
    case Severity::kInformation: return "information";
    }
    return "error";
}

}  // namespace qotool::analysis
