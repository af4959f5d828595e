// Where the last error of an interpreter was reported, kept for hosts that
// want a line and a column: the text of the level the error report found the
// position in (the outermost text that holds it) and the byte offset in it.
// The record is a copy, so it outlives the run and the text it came from.
//
// The error report records a site whenever it builds an excerpt; a report
// whose message carries no position text clears it; a message passed on
// with its position keeps the site of its first report.
//
// Syntax checks may also collect the statements that use undefined names
// (see UndefinedNameWatch).
#ifndef QOTOOL_ENGINE_ERROR_SITE_H
#define QOTOOL_ENGINE_ERROR_SITE_H

#include <string>
#include <string_view>
#include <vector>

#include "engine/debugger_seam.h"

class CQoLanguage;

namespace qotool::engine {

struct ErrorSite {
    std::string text;  // the level's text (up to its terminating zero)
    int offset = -1;   // byte offset of the error in text; -1: no site
};

void RecordErrorSite(CQoLanguage* qo, const char* text, int length, int offset);
void ClearErrorSite(CQoLanguage* qo);
// The interpreter's last site; false (and offset -1) when it has none.
bool LastErrorSite(CQoLanguage* qo, ErrorSite& out);
// Called when an interpreter is destroyed.
void ForgetErrorSite(CQoLanguage* qo);

// Maps a site onto a source text that was run: the byte offset in source,
// or -1. The site's text either holds the source (a file run adds its header
// before it, a syntax check its braces around it) or lies inside it (a user
// function's definition text, or the rest of a statement list).
long SiteOffsetInSource(const ErrorSite& site, std::string_view source);

// LineAndColumn (line and column of an offset) is in debugger_seam.h.

// One undefined name met by a syntax check, with the site of the statement
// that used it.
struct UndefinedNameUse {
    std::string name;
    ErrorSite statement;
};

// While one is alive on a thread, the syntax checks of that thread add each
// name they record as undefined (each once) with its statement's site.
class UndefinedNameWatch {
public:
    UndefinedNameWatch();
    ~UndefinedNameWatch();
    UndefinedNameWatch(const UndefinedNameWatch&) = delete;
    UndefinedNameWatch& operator=(const UndefinedNameWatch&) = delete;
    const std::vector<UndefinedNameUse>& uses() const { return uses_; }

private:
    friend void NoteUndefinedName(CQoLanguage* qo, std::string_view name);
    std::vector<UndefinedNameUse> uses_;
    UndefinedNameWatch* previous_;
};

// The variable store's hook: a newly recorded undefined name.
void NoteUndefinedName(CQoLanguage* qo, std::string_view name);

}  // namespace qotool::engine

#endif
