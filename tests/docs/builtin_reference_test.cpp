// The built-in reference names every word of the dispatch: the words come
// from the bucket comments of src/builtins/dispatch.cpp (which list every
// group's words, built or not), and each must have a heading of its own in
// docs/builtins.md.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string SourceRoot() {
    const std::string qolDir = QOTOOL_TEST_QOL_DIR;
    return qolDir.substr(0, qolDir.rfind("/tests/qol"));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The words a bucket comment names: in each ';' part, the text before a ':'
// (which names the group) without parenthesised remarks; "Name..." is a
// prefix, not a word, and "Dll::" stands for the native-call words.
std::set<std::string> DispatchWords(const std::string& source) {
    static const std::set<std::string> kProse = {"any", "word", "beginning", "with", "prefix"};
    std::set<std::string> words;
    const std::regex bucket(R"(case Key\('.', '.'\):\s*//([^\n]*))");
    for (std::sregex_iterator it(source.begin(), source.end(), bucket), end; it != end; ++it) {
        std::stringstream comment((*it)[1].str());
        for (std::string part; std::getline(comment, part, ';');) {
            part = std::regex_replace(part, std::regex(R"(\([^)]*\))"), "");
            part = std::regex_replace(part, std::regex(R"(\s:\s.*|:\s[a-z].*$)"), "");
            const std::regex word(R"([A-Za-z_][A-Za-z0-9_]*(::|\.\.\.)?)");
            for (std::sregex_iterator w(part.begin(), part.end(), word), wend; w != wend; ++w) {
                const std::string name = w->str();
                if (name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0) continue;
                if (kProse.count(name)) continue;
                words.insert(name);
            }
        }
    }
    return words;
}

TEST(BuiltinReferenceTest, EveryDispatchWordHasAHeading) {
    const std::set<std::string> words = DispatchWords(ReadFile(SourceRoot() + "/src/builtins/dispatch.cpp"));
    // The comments list about a hundred words; far fewer means the reading broke.
    ASSERT_GT(words.size(), 90u);
    EXPECT_TRUE(words.count("abs") && words.count("Dll::") && words.count("timeropen") && words.count("QolRun"));
    const std::string reference = ReadFile(SourceRoot() + "/docs/builtins.md");
    ASSERT_FALSE(reference.empty());
    for (const std::string& name : words) {
        const std::regex heading("\n#{2,4} [^\n]*`" + std::regex_replace(name, std::regex(R"([.:])"), R"(\$&)") +
                                 R"([`(])");
        EXPECT_TRUE(std::regex_search(reference, heading)) << name << " has no heading in docs/builtins.md";
    }
}

}  // namespace
