// The glossary: texts keyed by name, one per language, loaded from text
// files. In memory every file is a form feed, its lines joined by form
// feeds (a line that starts with ";" stays attached to the line before it
// by "\r\n"), then "\f[END]" and the file's path; an entry is found as
// form feed + "[KEY]" and its language texts are the fields after it.
//
// Lookups go through a hash index from every key an entry field can answer
// to (the text between "[" and each "]" of the field) to the first field
// that answers to it, so they cost the same for ten entries or ten
// thousand; the index is rebuilt whenever the text changes.
#ifndef QOTOOL_HOST_GLOSSARY_H
#define QOTOOL_HOST_GLOSSARY_H

#include <string>

namespace qotool::host {

// The data source and connection the "C" export writes through, and the
// SQL it issues (the table is a dBase file of the data source).
extern const char kExportDataSource[];  // "new=vfp;DSN=rufxp;SourceDB=c:\;SourceType=DBF"
extern const char kExportConnection[];  // "DSN=rufxp"

// The glossary text as loaded.
const std::string& GlossaryText();
// Test seam: empties the glossary, language 1, key suffix off.
void ResetGlossaryForTest();

}  // namespace qotool::host

#endif
