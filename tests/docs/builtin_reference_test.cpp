// The built-in reference names every word of the dispatch: the words come
// from the bucket comments of src/builtins/dispatch.cpp (which list every
// group's words, built or not), and each must have a heading of its own in
// docs/builtins.md.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "builtins/catalog.h"
#include "qotool/qolanguage.h"
#include "support/gbk_text.h"
#include "support/result_text.h"
#include "support/temp_env.h"

namespace {

std::string SourceRoot() {
    const std::string qolDir = QOTOOL_TEST_QOL_DIR;
    return qolDir.substr(0, qolDir.rfind("/tests/qol"));
}

bool IsWordByte(char c) { return std::isalnum((unsigned char)c) || c == '_'; }

// The words a bucket comment names: in each ';' part, the text before a ':'
// that names the group, without parenthesised remarks; "Name..." is a
// prefix, not a word, and "Dll::" stands for the native-call words.
std::set<std::string> WordsOfComment(const std::string& comment) {
    static const std::set<std::string> kProse = {"any", "word", "beginning", "with", "prefix"};
    std::set<std::string> words;
    std::stringstream parts(comment);
    for (std::string part; std::getline(parts, part, ';');) {
        std::string text;
        int depth = 0;
        for (size_t i = 0; i < part.size(); ++i) {
            if (part[i] == '(') ++depth;
            if (depth == 0 && part[i] == ':' && !(i + 1 < part.size() && part[i + 1] == ':') &&
                !(i > 0 && part[i - 1] == ':'))
                break;  // ": group name"
            if (depth == 0) text += part[i];
            if (part[i] == ')' && depth > 0) --depth;
        }
        for (size_t i = 0; i < text.size();) {
            if (!IsWordByte(text[i])) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < text.size() && IsWordByte(text[end])) ++end;
            std::string name = text.substr(i, end - i);
            if (text.compare(end, 2, "::") == 0) name += "::", end += 2;
            const bool prefix = text.compare(end, 3, "...") == 0;
            if (!prefix && !kProse.count(name) && !std::isdigit((unsigned char)name[0])) words.insert(name);
            i = end;
        }
    }
    return words;
}

std::set<std::string> DispatchWords(const std::string& source) {
    std::set<std::string> words;
    static const std::string kCase = "case Key('";
    for (size_t at = source.find(kCase); at != std::string::npos; at = source.find(kCase, at + 1)) {
        const size_t lineEnd = source.find('\n', at);
        const size_t comment = source.find("//", at);
        if (comment == std::string::npos || comment > lineEnd) continue;
        for (const std::string& w : WordsOfComment(source.substr(comment + 2, lineEnd - comment - 2)))
            words.insert(w);
    }
    return words;
}

// True when the reference has a heading (## to ####) with `name` in it.
bool HasHeading(const std::string& reference, const std::string& name) {
    std::stringstream lines(reference);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 3, "## ") != 0 && line.compare(0, 4, "### ") != 0 && line.compare(0, 5, "#### ") != 0)
            continue;
        for (size_t at = line.find("`" + name); at != std::string::npos; at = line.find("`" + name, at + 1)) {
            const char after = at + 1 + name.size() < line.size() ? line[at + 1 + name.size()] : 0;
            if (after == '`' || after == '(') return true;
        }
    }
    return false;
}

// The catalog that the static analysis reads names every word of the
// dispatch (whose comments give the prefix groups File... and Mem... by their
// prefix only), and each of its words has a heading in the reference: so
// every word of the dispatch has one.
TEST(BuiltinReferenceTest, TheCatalogNamesEveryDispatchWord) {
    const std::set<std::string> words = DispatchWords(qotool::test::TempDir::Read(SourceRoot() + "/src/builtins/dispatch.cpp"));
    // The comments list about a hundred words; far fewer means the reading broke.
    ASSERT_GT(words.size(), 90u);
    EXPECT_TRUE(words.count("abs") && words.count("Dll::") && words.count("timeropen") && words.count("QolRun"));
    int count = 0;
    const qotool::builtins::BuiltinEntry* entries = qotool::builtins::BuiltinCatalog(&count);
    std::set<std::string> catalog;
    for (int i = 0; i < count; ++i) {
        catalog.insert(entries[i].name);
        EXPECT_EQ(qotool::builtins::FindBuiltin(entries[i].name), &entries[i]);
    }
    for (const std::string& word : words) EXPECT_TRUE(catalog.count(word)) << word << " is not in the catalog";
    const std::string reference = qotool::test::TempDir::Read(SourceRoot() + "/docs/builtins.md");
    ASSERT_FALSE(reference.empty());
    // A heading elsewhere in the line or a mention in prose does not count.
    EXPECT_FALSE(HasHeading("`abs` in prose\n### `absolute`\n", "abs"));
    for (const std::string& name : catalog)
        EXPECT_TRUE(HasHeading(reference, name)) << name << " is in the catalog but not in docs/builtins.md";
    EXPECT_EQ(qotool::builtins::FindBuiltin("LEFT"), qotool::builtins::FindBuiltin("left"));
    EXPECT_EQ(qotool::builtins::FindBuiltin("Dll::c::strlen"), qotool::builtins::FindBuiltin("Dll::"));
}

// The catalog's argument counts are the handlers': the interpreter's own
// syntax check of a call with one argument too few or too many reports a
// syntax error, and with the counts at both ends none. Arguments are names
// no statement assigns, which the check lets through as undetermined. For a
// few handlers the check reads surplus arguments that a run refuses.
TEST(BuiltinReferenceTest, CatalogArgumentCountsAreTheHandlers) {
    const std::set<std::string> laxerWhenChecked = {"timeropen", "RegRead", "SpyKey", "decimal"};
    int count = 0;
    const qotool::builtins::BuiltinEntry* entries = qotool::builtins::BuiltinCatalog(&count);
    int checked = 0;
    for (int i = 0; i < count; ++i) {
        const qotool::builtins::BuiltinEntry& e = entries[i];
        if ((e.flags & (qotool::builtins::kStatement | qotool::builtins::kFreeForm | qotool::builtins::kBlock)) ||
            laxerWhenChecked.count(e.name) || std::string(e.name) == "Dll::")
            continue;
        const int most = e.maxArguments == qotool::builtins::kAnyCount ? e.minArguments + 2 : e.maxArguments;
        for (int n = e.minArguments - 1; n <= most + 1; ++n) {
            if (n < 0 || (n > e.minArguments && n < most)) continue;
            std::string call = std::string("ErrorCheck(){ ") + e.name + "(";
            for (int k = 0; k < n; ++k) call += (k ? ", u" : "u") + std::to_string(k);
            call += ") }";
            CQoLanguage qo;
            qo.DoQol(call.c_str(), nullptr);
            const bool refused = qotool::test::ResultOf(qo).find("语法错误") != std::string::npos;
            const bool fits = n >= e.minArguments && (e.maxArguments == qotool::builtins::kAnyCount || n <= most);
            EXPECT_EQ(refused, !fits) << call << " gives " << qotool::test::Readable(qotool::test::ResultOf(qo));
        }
        ++checked;
    }
    EXPECT_GT(checked, 80);
}

}  // namespace
