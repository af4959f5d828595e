// The QOL conformance runner: every case of every tests/qol/*.cases file
// (the format is in tests/qol/README.md) runs through ruqo_ExecQol (the
// shared interpreter) and through DoQol on a fresh interpreter, and the
// result text is compared with the expected text. The examples of the
// documentation (docs/*.md) with a result line are cases too
// (support/doc_examples.h). Each file is one test; a failing case names its
// file and the line of its "===" or of its row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "platform/encoding.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/doc_examples.h"
#include "support/gbk_text.h"
#include "support/path_tree.h"
#include "support/result_text.h"

namespace {

using qotool::test::Gbk;

struct QolCase {
    std::string folder;  // tests/qol or docs
    std::string file;  // file name, e.g. literals.cases
    int line = 0;      // line of the "===" that starts the case
    std::string description;
    bool execQolOnly = false;
    std::string fixture;   // from the file's header
    std::string text;      // GBK
    std::string expected;  // GBK
};

std::string JoinLines(std::vector<std::string> lines) {
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    return qotool::platform::Utf8ToGbk(out);
}

// A row's expected text, its line ends written as "⏎" (U+23CE, which no
// GBK result can hold).
std::vector<std::string> LinesOfRow(std::string expected) {
    std::vector<std::string> lines;
    for (size_t end; (end = expected.find("\xE2\x8F\x8E")) != std::string::npos; expected.erase(0, end + 3))
        lines.push_back(expected.substr(0, end));
    lines.push_back(expected);
    return lines;
}

// Parses one case file; a malformed case becomes a case whose expected
// text says what is wrong, so that it fails visibly.
std::vector<QolCase> ParseCases(const std::string& name, std::istream& in) {
    std::vector<QolCase> cases;
    std::string line;
    int number = 0;
    QolCase head;  // the block's "===" line
    bool inBlock = false, inExpected = false;
    std::vector<std::string> text, expected;
    std::vector<int> numbers;  // of the text lines
    std::string fixture;
    auto finish = [&] {
        if (!inBlock) return;
        if (inExpected) {
            cases.push_back(head);
            cases.back().text = JoinLines(text);
            cases.back().expected = JoinLines(expected);
        } else {  // rows; empty lines between them are passed over
            const size_t before = cases.size();
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i].empty()) continue;
                cases.push_back(head);
                QolCase& c = cases.back();
                c.line = numbers[i];
                const size_t arrow = text[i].find(" => ");
                if (arrow == std::string::npos) {
                    c.expected = "malformed case: no \"---\" line and no \" => \" in a row";
                    continue;
                }
                c.text = JoinLines({text[i].substr(0, arrow)});
                c.expected = JoinLines(LinesOfRow(text[i].substr(arrow + 4)));
            }
            if (cases.size() == before) {
                cases.push_back(head);
                cases.back().expected = "malformed case: no \"---\" line and no row";
            }
        }
        text.clear();
        expected.clear();
        numbers.clear();
        inExpected = false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 3, "===") == 0) {
            finish();
            inBlock = true;
            head = QolCase{};
            head.file = name;
            head.line = number;
            head.description = line.substr(3);
            head.execQolOnly = head.description.find("@execqol") != std::string::npos;
            head.fixture = fixture;
            continue;
        }
        if (!inBlock) {  // header
            if (line.compare(0, 8, "fixture:") == 0) {
                fixture = line.substr(8);
                fixture.erase(0, fixture.find_first_not_of(' '));
            }
            continue;
        }
        if (!inExpected && line == "---") {
            inExpected = true;
            continue;
        }
        if (!inExpected) numbers.push_back(number);
        (inExpected ? expected : text).push_back(line);
    }
    finish();
    return cases;
}

// The marked examples of one Markdown file that run through the library
// (the "qol script" ones need the qol runner).
std::vector<QolCase> ParseMarkdownExamples(const std::string& name, std::istream& in) {
    std::vector<QolCase> cases;
    for (const qotool::test::DocExample& example : qotool::test::ParseDocExamples(in)) {
        if (example.script) continue;
        QolCase c;
        c.folder = "docs";
        c.file = name;
        c.line = example.line;
        c.text = JoinLines(example.text);
        c.expected = example.expected.empty() ? "malformed example: no \"Result: `...`\" line after the block"
                                              : JoinLines({example.expected});
        cases.push_back(std::move(c));
    }
    return cases;
}

// The files of dir whose names end with suffix, sorted.
std::vector<std::string> FilesEndingWith(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<QolCase> LoadAllCases() {
    std::vector<QolCase> all;
    const std::string dir = QOTOOL_TEST_QOL_DIR;
    for (const std::string& n : FilesEndingWith(dir, ".cases")) {
        std::ifstream in(dir + "/" + n, std::ios::binary);
        for (QolCase& c : ParseCases(n, in)) {
            c.folder = "tests/qol";
            all.push_back(std::move(c));
        }
    }
    const std::string docs = dir.substr(0, dir.rfind("/tests/qol")) + "/docs";
    for (const std::string& n : FilesEndingWith(docs, ".md")) {
        std::ifstream in(docs + "/" + n, std::ios::binary);
        for (QolCase& c : ParseMarkdownExamples(n, in)) all.push_back(std::move(c));
    }
    return all;
}

const std::vector<QolCase>& AllCases() {
    static const std::vector<QolCase> cases = LoadAllCases();
    return cases;
}

using qotool::test::ResultOf;

bool Matches(const std::string& actual, const std::string& expected) {
    if (expected.size() >= 2 && expected[1] == '~') {
        std::string prefix = expected;
        prefix[1] = ':';
        return actual.compare(0, prefix.size(), prefix) == 0;
    }
    return actual == expected;
}

std::string Where(const QolCase& c) {
    std::ostringstream s;
    s << c.folder << "/" << c.file << ":" << c.line << c.description << "\n  text: "
      << qotool::test::Readable(c.text);
    return s.str();
}

// The surroundings a case file asks for in its header.
std::unique_ptr<qotool::test::PathTree> Fixture(const QolCase& c) {
    if (c.fixture == "tree") return std::make_unique<qotool::test::PathTree>();
    return nullptr;
}

void RunCase(const QolCase& c) {
    ASSERT_TRUE(c.expected.size() >= 2 && (c.expected[1] == ':' || c.expected[1] == '~'))
        << Where(c) << "\n  malformed expected text: " << qotool::test::Readable(c.expected);
    ASSERT_TRUE(c.fixture.empty() || c.fixture == "tree") << Where(c) << "\n  unknown fixture " << c.fixture;
    auto fixture = Fixture(c);

    // Each case starts from a cleared shared interpreter, whatever ran before
    // it in the same process.
    if (CQoLanguage* shared = ruqo_GetSharedQol()) shared->Do("clear", nullptr);
    const char* viaShared = ruqo_ExecQol(c.text.c_str());
    ASSERT_NE(viaShared, nullptr) << Where(c);
    const std::string shared = viaShared;
    EXPECT_TRUE(Matches(shared, c.expected))
        << Where(c) << "\n  ruqo_ExecQol: " << qotool::test::Readable(shared)
        << "\n  expected:     " << qotool::test::Readable(c.expected);

    if (c.execQolOnly) return;
    fixture.reset();
    fixture = Fixture(c);
    CQoLanguage fresh;
    ASSERT_EQ(fresh.DoQol(c.text.c_str(), nullptr), &fresh) << Where(c);
    const std::string own = ResultOf(fresh);
    EXPECT_TRUE(Matches(own, c.expected))
        << Where(c) << "\n  DoQol:    " << qotool::test::Readable(own)
        << "\n  expected: " << qotool::test::Readable(c.expected);
}

// One test per file (a process per case made the suite's time mostly
// process start-up); every failing case reports its own file and line.
std::string FileKey(const QolCase& c) { return c.folder + "/" + c.file; }

std::vector<std::string> CaseFiles() {
    std::vector<std::string> files;
    for (const QolCase& c : AllCases())
        if (files.empty() || files.back() != FileKey(c)) files.push_back(FileKey(c));
    return files;
}

class ConformanceTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ConformanceTest, CasesOfFile) {
    for (const QolCase& c : AllCases())
        if (FileKey(c) == GetParam()) RunCase(c);
}

std::string FileName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.rfind("docs/", 0) == 0 ? "docs_" : "";
    const std::string file = info.param.substr(info.param.rfind('/') + 1);
    for (char ch : file.substr(0, file.rfind('.'))) name += (isalnum((unsigned char)ch) ? ch : '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Qol, ConformanceTest, ::testing::ValuesIn(CaseFiles()), FileName);

// The static analysis cries no wolf: a text that runs without an error has
// no error finding (warnings may point at what a run did not reach). The
// documentation's examples of an undefined name or function are found.
TEST(ConformanceFilesTest, AnalysisFindsNoErrorInTextsThatRun) {
    int documentedErrors = 0;
    for (const QolCase& c : AllCases()) {
        const bool undefinedName = c.expected.find("变量未定义") != std::string::npos ||
                                   c.expected.find("执行不认识的函数") != std::string::npos;
        if (c.folder == "docs" && c.expected[0] == 'X' && undefinedName) {
            ++documentedErrors;
            bool found = false;
            for (const qotool::analysis::Finding& f : qotool::analysis::Analyze(c.text).findings)
                found |= f.severity == qotool::analysis::Severity::kError;
            EXPECT_TRUE(found) << Where(c);
        }
        // "[n]" before a text picks an interpreter of ruqo_ExecQol: not QOL.
        if (c.expected.empty() || c.expected[0] == 'X' || c.execQolOnly) continue;
        for (const qotool::analysis::Finding& f : qotool::analysis::Analyze(c.text).findings) {
            EXPECT_NE(f.severity, qotool::analysis::Severity::kError)
                << Where(c) << "\n  " << f.code << " at byte " << f.offset << ": " << qotool::test::Readable(f.message);
        }
    }
    EXPECT_GE(documentedErrors, 2);  // so the docs beside tests/qol were found
}

TEST(ConformanceFilesTest, ParsesTheDocumentedFormat) {
    std::istringstream in(
        "header line\n"
        "fixture: tree\n"
        "===\n"
        "1\n"
        "---\n"
        "N:1\n"
        "\n"
        "=== second @execqol\r\n"
        "\"a;\r\n"
        "b\"\n"
        "---\r\n"
        "X~m\n"
        "===\n"
        "---\n"
        "Z:\n"
        "=== rows @execqol\n"
        "1 => 2 => N:1 => 2\n"
        "\n"
        " x  => X~y\xE2\x8F\x8E" "z\n"
        "===\n"
        "no row\n");
    std::vector<QolCase> cases = ParseCases("f.cases", in);
    ASSERT_EQ(cases.size(), 6u);
    EXPECT_EQ(cases[0].line, 3);
    EXPECT_EQ(cases[0].text, "1");
    EXPECT_EQ(cases[0].expected, "N:1");
    EXPECT_FALSE(cases[0].execQolOnly);
    EXPECT_EQ(cases[0].fixture, "tree");
    EXPECT_TRUE(cases[1].execQolOnly);
    EXPECT_EQ(cases[1].text, "\"a;\r\nb\"");
    EXPECT_EQ(cases[1].expected, "X~m");
    EXPECT_EQ(cases[2].text, "");
    EXPECT_EQ(cases[2].expected, "Z:");
    EXPECT_EQ(cases[3].line, 17);
    EXPECT_EQ(cases[3].text, "1");
    EXPECT_EQ(cases[3].expected, "2 => N:1 => 2");
    EXPECT_TRUE(cases[4].execQolOnly);
    EXPECT_EQ(cases[4].line, 19);
    EXPECT_EQ(cases[4].text, " x ");
    EXPECT_EQ(cases[4].expected, "X~y\r\nz");
    EXPECT_EQ(cases[5].expected.rfind("malformed", 0), 0u);
    EXPECT_TRUE(Matches("X:m\r\nmore", "X~m"));
    EXPECT_FALSE(Matches("X:m\r\nmore", "X:m"));
    EXPECT_FALSE(Matches("S:m", "X~m"));
}

}  // namespace
