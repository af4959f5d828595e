// qol --check FILE...: the static analysis (src/analysis) of script files,
// each finding as "FILE:LINE:COLUMN: error|warning: message [code]" on
// standard error; information findings are the language server's only.
#ifndef QOTOOL_TOOLS_QOL_CHECK_COMMAND_H
#define QOTOOL_TOOLS_QOL_CHECK_COMMAND_H

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "runner.h"

namespace qol {

// The words and variables the runner gives every script.
qotool::analysis::Options RunnerAnalysisOptions();

// Returns the exit status: 0 without an error finding, 1 with one, 2 when a
// file cannot be read.
int CheckFiles(const std::vector<std::string>& files, Encoding encoding);

}  // namespace qol

#endif
