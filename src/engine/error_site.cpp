#include "engine/error_site.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "engine/run_context.h"

namespace qotool::engine {

namespace {

std::mutex g_sitesLock;

std::unordered_map<const CQoLanguage*, ErrorSite>& Sites() {
    static auto* sites = new std::unordered_map<const CQoLanguage*, ErrorSite>();
    return *sites;
}

thread_local UndefinedNameWatch* t_watch = nullptr;

// The site of position in the lowest level whose text holds it, as the
// error report finds it.
ErrorSite SiteOf(QoLRunContext* run, const char* position) {
    ErrorSite site;
    if (!run || !position) return site;
    for (int lv = 0; lv <= run->level && (size_t)lv < run->levelStart.size(); ++lv) {
        const char* start = run->levelStart[(size_t)lv];
        if (!start || position < start) continue;
        const size_t length = strlen(start);
        if (position > start + length) continue;
        site.text.assign(start, length);
        site.offset = (int)(position - start);
        break;
    }
    return site;
}

}  // namespace

void RecordErrorSite(CQoLanguage* qo, const char* text, int length, int offset) {
    if (!qo || !text || length < 0) return;
    std::lock_guard<std::mutex> lock(g_sitesLock);
    ErrorSite& site = Sites()[qo];
    site.text.assign(text, (size_t)length);
    site.offset = offset;
}

void ClearErrorSite(CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_sitesLock);
    auto it = Sites().find(qo);
    if (it != Sites().end()) it->second.offset = -1;
}

bool LastErrorSite(CQoLanguage* qo, ErrorSite& out) {
    std::lock_guard<std::mutex> lock(g_sitesLock);
    auto it = Sites().find(qo);
    if (it == Sites().end() || it->second.offset < 0) {
        out = ErrorSite();
        return false;
    }
    out = it->second;
    return true;
}

void ForgetErrorSite(CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_sitesLock);
    Sites().erase(qo);
}

long SiteOffsetInSource(const ErrorSite& site, std::string_view source) {
    if (site.offset < 0) return -1;
    // A run stops at the source's first zero byte: the rest never ran.
    source = source.substr(0, std::min(source.size(), strnlen(source.data(), source.size())));
    const std::string_view text = site.text;
    if (!source.empty()) {
        const size_t at = text.find(source);
        if (at != std::string_view::npos) {
            const long offset = (long)site.offset - (long)at;
            if (offset < 0) return 0;
            return std::min(offset, (long)source.size());
        }
    }
    // A statement list that a block or check wraps in braces runs from a
    // copy: the site's text then ends with the closing brace the source
    // does not have.
    std::string_view inner = text;
    while (!inner.empty() && (unsigned char)inner.back() <= ' ') inner.remove_suffix(1);
    if (!inner.empty() && inner.back() == '}' && inner.size() > (size_t)site.offset) inner.remove_suffix(1);
    while (!inner.empty() && (unsigned char)inner.back() <= ' ' && inner.size() > (size_t)site.offset)
        inner.remove_suffix(1);
    for (std::string_view candidate : {text, inner}) {
        if (candidate.empty()) continue;
        const size_t at = source.find(candidate);
        if (at != std::string_view::npos) return (long)at + site.offset;
    }
    return -1;
}

void LineAndColumn(std::string_view gbk, long offset, int& line, int& column) {
    line = 1;
    column = 1;
    const size_t end = offset < 0 ? 0 : std::min((size_t)offset, gbk.size());
    for (size_t i = 0; i < end;) {
        const unsigned char c = (unsigned char)gbk[i];
        if (c == '\n') {
            ++line;
            column = 1;
            ++i;
        } else {
            ++column;
            i += (c >= 0x80 && i + 1 < gbk.size()) ? 2 : 1;
        }
    }
}

UndefinedNameWatch::UndefinedNameWatch() : previous_(t_watch) { t_watch = this; }

UndefinedNameWatch::~UndefinedNameWatch() { t_watch = previous_; }

void NoteUndefinedName(CQoLanguage* qo, std::string_view name) {
    UndefinedNameWatch* watch = t_watch;
    if (!watch || !qo || !qo->m_pRun) return;
    for (const UndefinedNameUse& use : watch->uses_)
        if (use.name == name) return;
    watch->uses_.push_back({std::string(name), SiteOf(qo->m_pRun, qo->m_pRun->statementStart)});
}

}  // namespace qotool::engine
