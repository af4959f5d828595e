#include "support/doc_examples.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace qotool::test {

namespace {

// The text between "prefix`" and a final "`" of line; false when line is
// not of that form.
bool Quoted(const std::string& line, const std::string& prefix, std::string& text) {
    const std::string open = prefix + "`";
    if (line.compare(0, open.size(), open) != 0 || line.size() <= open.size() || line.back() != '`') return false;
    text = line.substr(open.size(), line.size() - open.size() - 1);
    return true;
}

}  // namespace

std::vector<DocExample> ParseDocExamples(std::istream& in) {
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    std::vector<DocExample> examples;
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool script = lines[i] == "```qol script";
        if (lines[i] != "```qol" && !script) continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].compare(0, 3, "```") != 0) ++end;
        DocExample example;
        example.line = static_cast<int>(i) + 1;
        example.script = script;
        example.text.assign(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(end));
        size_t at = end + 1;
        while (at < lines.size() && lines[at].empty()) ++at;
        std::string quoted;
        if (!script) {
            if (at < lines.size() && Quoted(lines[at], "Result: ", quoted)) example.expected = quoted;
        } else {
            for (; at < lines.size() && Quoted(lines[at], "Output: ", quoted); ++at) example.expected += quoted + "\n";
            if (at < lines.size() && lines[at].compare(0, 8, "Status: ") == 0)
                example.status = std::atoi(lines[at].c_str() + 8);
        }
        examples.push_back(std::move(example));
        i = end;
    }
    return examples;
}

std::vector<std::string> MarkdownFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        if (entry.path().extension() == ".md") names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qotool::test
