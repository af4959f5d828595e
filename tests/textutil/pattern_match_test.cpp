// Fuzzy pattern matching where a script cannot reach (what scripts see is in
// tests/qol/pattern.cases): null and unreadable addresses, zero bytes,
// ruqo_ArrayMatch, the key poll and megabyte inputs. Narrow literals are GBK.
#include "qotool/textutil.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/keys.h"
#include "platform/ui.h"
#include "support/gbk_text.h"
#include "support/recording_ui.h"
#include "textutil/pattern_match.h"

namespace {

using qotool::test::Gbk;
using qotool::test::Readable;

const char kFaultText[] = "非法执行模糊匹配功能，可能是地址非法。";

using qotool::test::RecordingUi;

int Match(const std::string& pattern, const std::string& text, int index = 1) {
    return ruqo_StrMatch(pattern.c_str(), text.c_str(), index);
}

// Every test starts from the initial state: all standing options on, no
// first match recorded, no key provider.
class PatternMatchTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override {
        Reset();
        qotool::platform::SetKeyStateProvider(nullptr);
    }
    static void Reset() {
        ruqo_StrMatch("x /", "x", 1);  // a bare " /" turns every standing option on
        ruqo_StrMatch("", "x", 0);     // clears the first-match record
    }
    RecordingUi ui_;
};

struct Case {
    const char* pattern;
    std::string text;
    int expected;
};

void ExpectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(Match(c.pattern, c.text), c.expected)
            << "pattern " << Readable(c.pattern) << " text " << Readable(c.text);
}

// A null text is the empty text; a null pattern matches only blanks.
TEST_F(PatternMatchTest, NullTextAndPattern) {
    for (const auto& [pattern, expected] : std::vector<std::pair<const char*, int>>{{"*", 0}, {"!x", 0}, {"x", -1}, {"!", -1}})
        EXPECT_EQ(ruqo_StrMatch(pattern, nullptr, 1), expected) << Readable(pattern);
    EXPECT_EQ(ruqo_StrMatch(nullptr, nullptr, 1), 0);
    EXPECT_EQ(ruqo_StrMatch(nullptr, "abc", 1), -1);
    EXPECT_EQ(ruqo_StrMatch(nullptr, "  ", 1), 2);
}

TEST_F(PatternMatchTest, InternalEntryStopsAtZeroBytes) {
    const std::string text("ab\0cd", 5);
    EXPECT_EQ(qotool::textutil::MatchPattern("ab", 2, text.data(), text.size(), 1), 2);
    EXPECT_EQ(qotool::textutil::MatchPattern("abcd", 4, text.data(), text.size(), 1), -1);
    EXPECT_EQ(qotool::textutil::MatchPattern("abX", 2, "abY", 2, 1), 2);  // lengths bound both
    EXPECT_EQ(ruqo_StrMatch("ab", text.c_str(), 1), 2);
    EXPECT_EQ(qotool::textutil::MatchPattern(nullptr, 5, nullptr, 5, 1), 0);
}

// ---- ruqo_ArrayMatch --------------------------------------------------

// Rows in writable buffers, as hosts pass them.
class Rows {
public:
    explicit Rows(const std::vector<const char*>& texts) {
        for (const char* t : texts) buffers_.push_back(t ? std::vector<char>(t, t + strlen(t) + 1) : std::vector<char>());
        for (auto& b : buffers_) pointers_.push_back(b.empty() ? nullptr : b.data());
    }
    char** data() { return pointers_.data(); }
    int count() const { return (int)pointers_.size(); }
    std::string row(size_t i) const { return pointers_[i] ? pointers_[i] : "(null)"; }

private:
    std::vector<std::vector<char>> buffers_;
    std::vector<char*> pointers_;
};

std::string ArrayResult(const char* pattern, Rows& rows, int maxDistinct = 0, bool interruptible = false) {
    const char* r = ruqo_ArrayMatch(pattern, rows.data(), interruptible ? -rows.count() : rows.count(), maxDistinct);
    return r ? r : "(null)";
}

TEST_F(PatternMatchTest, ArrayMarksRowsAndTrimsMatchingOnes) {
    Rows rows({"ab", "ab  ", "xy"});
    EXPECT_EQ(ArrayResult("ab", rows), "=.!");
    EXPECT_EQ(rows.row(1), "ab");  // the caller's row lost its trailing spaces

    Rows partial({"abc", "a", "abc", "xbc  "});
    EXPECT_EQ(ArrayResult("a*", partial), "<=.!");
    EXPECT_EQ(partial.row(3), "xbc  ");  // rows that do not match stay as they are

    Rows trimmedFirst({"ab ", "ab"});
    EXPECT_EQ(ArrayResult("ab", trimmedFirst), "=.");  // rows compare after trimming

    Rows negated({"abxy", "abcd"});
    EXPECT_EQ(ArrayResult("ab!cd", negated), "<!");

    Rows withNull({nullptr, "", "x"});
    EXPECT_EQ(ArrayResult("*", withNull), "=.<");  // a null row is an empty text

    // Rows may share memory: trimming one shortens the other.
    char shared[] = "ab  ";
    char* overlapping[] = {shared, shared + 1};
    EXPECT_EQ(std::string(ruqo_ArrayMatch("*b", overlapping, 2, 0)), "==");
    EXPECT_STREQ(shared, "ab");
}

TEST_F(PatternMatchTest, ArrayStopsAfterMaxDistinct) {
    Rows rows({"xy", "ab", "ab", "ac"});
    EXPECT_EQ(ArrayResult("a?", rows, 1), "!=");
    EXPECT_EQ(ArrayResult("a?", rows, 2), "!=.=");
    EXPECT_EQ(ArrayResult("a?", rows, 0), "!=.=");
    EXPECT_EQ(ArrayResult("a?", rows, -5), "!=.=");
    EXPECT_EQ(ArrayResult("a?", rows, 100), "!=.=");
}

TEST_F(PatternMatchTest, ArrayEdgeArguments) {
    Rows rows({"ab"});
    EXPECT_EQ(ArrayResult(nullptr, rows), "");
    EXPECT_EQ(ruqo_ArrayMatch("ab", rows.data(), 0, 0), nullptr);
    EXPECT_EQ(ruqo_ArrayMatch(nullptr, nullptr, 0, 0), std::string());
    EXPECT_EQ(std::string(pf_arrayMatch("ab", rows.data(), 1, 0)), "=");
    EXPECT_EQ(pf_strMatch("a*", "abc", 1), 1);
}

std::set<int> g_downKeys;
int FakeKeys(int key) { return g_downKeys.count(key) ? qotool::platform::kKeyDown : 0; }

// A negative count polls the keys: row i stops the scan when key i % 256 is
// down (row 16's key, Shift, is ignored).
TEST_F(PatternMatchTest, InterruptibleArrayStopsAtAKeyDown) {
    std::vector<const char*> texts(300, "ab");
    Rows rows(texts);
    qotool::platform::SetKeyStateProvider(FakeKeys);
    g_downKeys = {3};
    EXPECT_EQ(ArrayResult("ab", rows, 0, true), "=..");
    EXPECT_EQ(ArrayResult("ab", rows, 0, false), "=" + std::string(299, '.'));  // only a negative count polls
    g_downKeys = {0};
    EXPECT_EQ(ArrayResult("ab", rows, 0, true), "");
    g_downKeys = {16};
    EXPECT_EQ(ArrayResult("ab", rows, 0, true).size(), 272u);  // row 272 polls key 16 and stops
    qotool::platform::SetKeyStateProvider(nullptr);
    EXPECT_EQ(qotool::platform::KeyState(3), 0);
    EXPECT_EQ(ArrayResult("ab", rows, 0, true), "=" + std::string(299, '.'));
}

// ---- Unreadable addresses ---------------------------------------------

// Two pages: the first readable and writable, the second inaccessible.
class GuardedPages {
public:
    GuardedPages() {
        page_ = (size_t)sysconf(_SC_PAGESIZE);
        base_ = (char*)mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(base_, MAP_FAILED);
        EXPECT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    }
    ~GuardedPages() { munmap(base_, 2 * page_); }
    char* forbidden() const { return base_ + page_; }
    // text placed so that its terminator is the last readable byte.
    char* AtEnd(const std::string& text) const {
        char* at = base_ + page_ - text.size() - 1;
        memcpy(at, text.c_str(), text.size() + 1);
        return at;
    }
    // text placed right before the inaccessible page, without terminator.
    char* Unterminated(const std::string& text) const {
        char* at = base_ + page_ - text.size();
        memcpy(at, text.data(), text.size());
        return at;
    }
    void ReadOnly() { mprotect(base_, page_, PROT_READ); }

private:
    size_t page_;
    char* base_;
};

TEST_F(PatternMatchTest, UnreadableAddressShowsTheMessage) {
    GuardedPages pages;
    const char* bad = pages.forbidden();
    EXPECT_EQ(ruqo_StrMatch(bad, "abc", 1), -1);
    EXPECT_EQ(ruqo_StrMatch("abc", bad, 1), -1);
    EXPECT_EQ(ruqo_StrMatch("*", pages.Unterminated("abc"), 1), -1);  // runs into the bad page
    EXPECT_EQ(ruqo_StrMatch(pages.Unterminated("abc"), "abc", 1), -1);
    EXPECT_EQ(ruqo_StrMatch(bad, "", 1), -1);  // the empty-text rule reads the pattern
    ASSERT_EQ(ui_.BoxTexts().size(), 5u);
    for (const std::string& box : ui_.BoxTexts()) EXPECT_EQ(Gbk(box), Gbk(kFaultText));

    // A string that ends right before the bad page is fine.
    EXPECT_EQ(ruqo_StrMatch(pages.AtEnd("a*"), "abc", 1), 1);
    EXPECT_EQ(ruqo_StrMatch("a*", pages.AtEnd("abc"), 1), 1);
    // The first-match query with a non-empty text does not read the pattern.
    EXPECT_EQ(ruqo_StrMatch(bad, "x", 0), 1);
    EXPECT_EQ(ui_.BoxTexts().size(), 5u);
}

TEST_F(PatternMatchTest, UnreadableRowsInArrays) {
    GuardedPages pages;
    char good[] = "ab  ";
    char* rowsWithBad[] = {good, pages.forbidden(), good};
    EXPECT_EQ(std::string(ruqo_ArrayMatch("ab", rowsWithBad, 3, 0)), "=!.");
    EXPECT_EQ(ui_.BoxTexts().size(), 1u);
    EXPECT_STREQ(good, "ab");

    EXPECT_EQ(std::string(ruqo_ArrayMatch("ab", (char**)pages.forbidden(), 2, 0)), "");
    EXPECT_EQ(ui_.BoxTexts().size(), 2u);

    char* rows[] = {good, good};
    EXPECT_EQ(std::string(ruqo_ArrayMatch(pages.forbidden(), rows, 2, 0)), "!!");
    EXPECT_EQ(ui_.BoxTexts().size(), 4u);
}

TEST_F(PatternMatchTest, ReadOnlyRowsAreNotTrimmedButStillMatch) {
    GuardedPages pages;
    char* row = pages.AtEnd("ab   ");
    pages.ReadOnly();
    char* rows[] = {row, row};
    EXPECT_EQ(std::string(ruqo_ArrayMatch("ab", rows, 2, 0)), "=.");
    EXPECT_STREQ(row, "ab   ");
    EXPECT_TRUE(ui_.BoxTexts().empty());
}

// ---- Large and hostile input ------------------------------------------

TEST_F(PatternMatchTest, LongDigitRuns) {
    const std::string digits300(300, '7');
    ExpectAll({
        {"A%B", "A" + digits300 + "B", 302},
        {"A%7B", "A" + digits300 + "B", 302},  // the run gives one digit back
        {"A%!7", "A" + digits300, 299},  // % gives digits back until the rest is more than one 7
        {"%", std::string(100000, '1'), 100000},
        {"%x", std::string(100000, '1'), -1},
        {"*%x", std::string(100000, '1'), -1},
        {"%%%%%%%%x", std::string(5000, '2'), -1},
        {"%%%%%%%%", std::string(5000, '2'), 5000},
    });
}

TEST_F(PatternMatchTest, MegabyteTexts) {
    const std::string as(1 << 20, 'a');
    ExpectAll({
        {"a*", as, 1},
        {"*a", as, 1 << 20},
        {"*b", as, -1},
        {"*a*b", as, -1},
        {"?*", as, 1},
        {"!b", as, 0},
        {"a*b", as + "b", (1 << 20) + 1},
    });
    EXPECT_EQ(Match("*中", std::string(1 << 19, 'x') + "中"), (1 << 19) + 2);

    // A megabyte of wildcards in the pattern: results do not depend on how
    // deep the search goes.
    EXPECT_EQ(Match(std::string(1 << 20, '*'), "abc"), 0);
    EXPECT_EQ(Match(std::string(1 << 20, '!'), "abc"), -1);        // an even number of negations
    EXPECT_EQ(Match(std::string((1 << 20) + 1, '!'), "abc"), 0);  // an odd number
}

// (*a)^k * b: matches a text ending in b with at least k a's before it.
std::string StarsThenB(int k) {
    std::string pattern;
    for (int i = 0; i < k; ++i) pattern += "*a";
    return pattern + "*b";
}

TEST_F(PatternMatchTest, HundredsOfStarsAgainstTenKilobytes) {
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        // About 300 a's among 10 000 letters and one b at the end.
        std::string text;
        for (int i = 0; i < 9999; ++i) text += random() % 1000 < 30 ? 'a' : 'c';
        text += 'b';
        const int as = qotool::test::CountOf(text, "a");
        for (int k : {as - 1, as, as + 1})
            EXPECT_EQ(Match(StarsThenB(k), text), k <= as ? (int)text.size() : -1) << "k " << k << " a's " << as;
    }
    const std::string as(10000, 'a');
    std::string aStars;
    for (int i = 0; i < 500; ++i) aStars += "*a";
    ExpectAll({
        {StarsThenB(300).c_str(), as, -1},
        {StarsThenB(300).c_str(), as + "b", 10001},
        {(std::string(400, '*') + "b").c_str(), as, -1},
        {aStars.c_str(), as, 10000},
        // The last * stops at the first position where "a" does not take the
        // rest of the text: right after the 500th a.
        {(aStars + "*!a").c_str(), as, 500},
        {(aStars + "!a").c_str(), as, 500},
        {(aStars + "!*a").c_str(), as, -1},  // every way of placing the a's fails
        {(aStars + "!*b").c_str(), as, 500},
    });
}

TEST_F(PatternMatchTest, ManyNegationsAndDigitClasses) {
    std::string text(10000, 'x');
    text += 'y';
    std::string pattern;
    for (int i = 0; i < 200; ++i) pattern += "*%,";
    std::string numbers;
    for (int i = 0; i < 200; ++i) numbers += std::to_string(i * 7919) + ",";
    EXPECT_EQ(Match(pattern, numbers), (int)numbers.size());
    EXPECT_EQ(Match(pattern + "%", numbers), -1);
    EXPECT_EQ(Match(pattern + "*,", numbers), -1);  // only 200 commas
    EXPECT_EQ(Match("!*y", text), -1);
    EXPECT_EQ(Match("!*z", text), 0);
}

}  // namespace
