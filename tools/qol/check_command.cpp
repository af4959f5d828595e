#include "check_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "analysis/source_text.h"
#include "platform/encoding.h"

namespace qol {

namespace analysis = qotool::analysis;

analysis::Options RunnerAnalysisOptions() {
    analysis::Options options;
    // The console words (console_words.h) and the script arguments
    // (Runner::SetScriptArguments).
    options.functions = {"print", "eprint", "readline", "exit", "utf8", "gbk"};
    options.variables = {"argv", "argc"};
    return options;
}

namespace {

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}

}  // namespace

int CheckFiles(const std::vector<std::string>& files, Encoding encoding) {
    int status = 0;
    const analysis::Options options = RunnerAnalysisOptions();
    for (const std::string& path : files) {
        std::string bytes;
        if (!ReadFile(path, bytes)) {
            std::fprintf(stderr, u8"qol: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
            status = kUsageError;
            continue;
        }
        // A "#!" first line is a comment of the same length for the runner.
        if (bytes.size() >= 2 && bytes[0] == '#' && bytes[1] == '!') bytes[0] = bytes[1] = '/';
        const analysis::SourceText source = encoding == Encoding::kGbk    ? analysis::SourceText::FromGbk(bytes)
                                            : encoding == Encoding::kUtf8 ? analysis::SourceText::FromUtf8(bytes)
                                                                          : analysis::SourceText::FromFile(bytes);
        const analysis::Result result = analysis::AnalyzeSource(source, options);
        std::string out;
        for (const analysis::Finding& f : result.findings) {
            if (f.severity == analysis::Severity::kInformation) continue;
            if (f.severity == analysis::Severity::kError && status == 0) status = 1;
            const std::string message =
                encoding == Encoding::kGbk ? f.message : qotool::platform::GbkToUtf8(f.message, true);
            out += path + ":" + std::to_string(source.LineOf(f.offset) + 1) + ":" +
                   std::to_string(source.CharacterColumn(f.offset) + 1) + ": " + analysis::SeverityName(f.severity) +
                   ": " + message + " [" + f.code + "]\n";
        }
        std::fwrite(out.data(), 1, out.size(), stderr);
    }
    std::fflush(stderr);
    return status;
}

}  // namespace qol
