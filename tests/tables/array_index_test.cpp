// The row index and the code table through their public header.
#include "qotool/array_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/recording_ui.h"

namespace {

// The rows of a find result.
std::vector<int> Rows(const int* found) { return std::vector<int>(found + 1, found + 1 + found[0]); }

// An index over texts that the fixture keeps alive.
struct Table {
    explicit Table(std::vector<std::string> texts) : texts(std::move(texts)) {
        for (auto& t : this->texts) rows.push_back(t.c_str());
        index.SetWorkArea((int)rows.size(), rows.data());
        index.SetIndex((int)rows.size());
    }
    std::vector<std::string> texts;
    std::vector<const char*> rows;
    qoArrayIndex index;
};

TEST(ArrayIndex, FindsEqualRowsInRowOrderUpToTheMaximum) {
    // "ab" and "a" collide in bucket and signature only by text: both are
    // in the index, compared as text on a hit.
    Table t({"a", "b", "a", "ab", "", "a"});
    struct Row {
        const char* text;
        int maximum;
        std::vector<int> rows;
    } cases[] = {
        {"a", 0, {0, 2, 5}}, {"a", 1, {0}}, {"a", 2, {0, 2}}, {"b", 0, {1}},
        {"ab", 0, {3}},      {"", 0, {4}},  {"c", 0, {}},     {"abc", 0, {}},
    };
    for (const Row& row : cases) {
        SCOPED_TRACE(std::string(row.text) + " max " + std::to_string(row.maximum));
        EXPECT_EQ(Rows(t.index.FindRow(row.text, row.maximum, false)), row.rows);
    }
    EXPECT_EQ(Rows(t.index.FindRow(nullptr)), std::vector<int>({4}));  // null counts as ""
}

TEST(ArrayIndex, ConsumedRowsAreSkippedUntilTheIndexIsRebuilt) {
    Table t({"a", "b", "a", "a"});
    EXPECT_EQ(Rows(t.index.FindRow("a", 2, true)), std::vector<int>({0, 2}));
    EXPECT_EQ(Rows(t.index.FindRow("a", 0, true)), std::vector<int>({3}));
    EXPECT_EQ(Rows(t.index.FindRow("a", 0, true)), std::vector<int>());
    EXPECT_EQ(Rows(t.index.FindRow("b")), std::vector<int>({1}));
    // A consumed row is no longer in the index for a refresh either.
    EXPECT_EQ(t.index.RefreshRow(0, "b"), -1);
    t.index.SetIndex(4);
    EXPECT_EQ(Rows(t.index.FindRow("a")), std::vector<int>({0, 2, 3}));
}

TEST(ArrayIndex, DistinctMarksTheFirstRowOfEachText) {
    EXPECT_STREQ(Table({"a", "b", "a"}).index.DistinctRow(), "110");
    EXPECT_STREQ(Table({"x", "x", "x", "y", "", ""}).index.DistinctRow(), "100110");
    // Rows beyond the indexed ones are never marked.
    Table partial({"a", "b", "c"});
    partial.index.SetIndex(2);
    EXPECT_STREQ(partial.index.DistinctRow(), "110");
}

TEST(ArrayIndex, RefreshMovesRowsBetweenBucketsAndKeepsRowOrder) {
    Table t({"a", "b", "a"});
    EXPECT_EQ(t.index.RefreshRow(1, "a"), 1);
    EXPECT_EQ(Rows(t.index.FindRow("a")), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(Rows(t.index.FindRow("b")), std::vector<int>());
    EXPECT_EQ(t.rows[1], std::string("a"));  // the caller's table holds the new text
    EXPECT_EQ(t.index.RefreshRow(0, "zz"), 0);
    EXPECT_EQ(Rows(t.index.FindRow("a")), std::vector<int>({1, 2}));
    EXPECT_EQ(Rows(t.index.FindRow("zz")), std::vector<int>({0}));
    EXPECT_STREQ(t.index.DistinctRow(), "110");
}

TEST(ArrayIndex, AppendedRowsGrowTheTableAndTheSegments) {
    Table t({"a", "b", "a"});
    // Many rows of one text fill its segment past the 32-slot growth steps.
    std::vector<std::string> added(200, "k");
    for (size_t i = 0; i < added.size(); ++i) EXPECT_EQ(t.index.RefreshRow(-1, added[i].c_str()), (int)(3 + i));
    int count = 0;
    const char** rows = t.index.GetWorkArea(count);
    EXPECT_EQ(count, 203);
    EXPECT_STREQ(rows[0], "a");  // the caller's pointers were kept
    EXPECT_STREQ(rows[202], "k");
    const int* found = t.index.FindRow("k");
    ASSERT_EQ(found[0], 200);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(found[1 + i], 3 + i);
    EXPECT_EQ(Rows(t.index.FindRow("a")), std::vector<int>({0, 2}));
    // A row outside the table is appended too.
    EXPECT_EQ(t.index.RefreshRow(1000, "b"), 203);
    EXPECT_EQ(Rows(t.index.FindRow("b")), std::vector<int>({1, 203}));
}

TEST(ArrayIndex, OwnRowTableAndCopiesStayUsable) {
    qoArrayIndex index;
    const char** rows = index.SetWorkArea(3, nullptr);
    ASSERT_NE(rows, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i], nullptr);
    rows[0] = "p";
    rows[2] = "p";
    index.SetIndex(3);
    EXPECT_EQ(Rows(index.FindRow("p")), std::vector<int>({0, 2}));
    EXPECT_EQ(Rows(index.FindRow("")), std::vector<int>({1}));  // a null row reads as empty
    qoArrayIndex copy(index);
    EXPECT_EQ(copy.RefreshRow(1, "p"), 1);
    EXPECT_EQ(Rows(copy.FindRow("p")), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(Rows(index.FindRow("p")), std::vector<int>({0, 2}));  // the source is untouched
    qoArrayIndex assigned;
    assigned = copy;
    EXPECT_EQ(Rows(assigned.FindRow("p", 0, true)), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(Rows(copy.FindRow("p")), std::vector<int>({0, 1, 2}));
    index.ReleaseResultBuffer();
    EXPECT_EQ(Rows(index.FindRow("p")), std::vector<int>({0, 2}));
}

TEST(ArrayIndex, EmptyAndUnbuiltIndexesAnswerWithoutCrashing) {
    qoArrayIndex index;
    EXPECT_EQ(Rows(index.FindRow("a")), std::vector<int>());
    EXPECT_EQ(index.RefreshRow(0, "a"), -1);
    EXPECT_STREQ(index.DistinctRow(), "");
    index.SetIndex(10);
    EXPECT_EQ(Rows(index.FindRow("a")), std::vector<int>());
    EXPECT_EQ(index.RefreshRow(-1, "a"), 0);  // appended to an empty own table
    EXPECT_EQ(Rows(index.FindRow("a")), std::vector<int>({0}));
    index.SetWorkArea(-5, nullptr);
    int count = -1;
    index.GetWorkArea(count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(index.RefreshRow(0, "a"), -1);  // the index was cleared
}

TEST(ArraycCode, CodesNeverHoldAZeroByte) {
    const char* texts[] = {"", "a", "\x01", "\x01\x01", "\xff\x00", "\x00\x01", "ab", "\xb0\xa1", "\x80",
                           "\xff\xff\x01\x01"};
    for (const char* text : texts) {
        const unsigned short code = qoArraycCode::Coder(text);
        EXPECT_NE(code & 0xFF, 0) << text;
        EXPECT_NE(code >> 8, 0) << text;
    }
    // Every sum whose bytes are not zero is its own code.
    EXPECT_EQ(qoArraycCode::Coder("ab"), 'a' | ('b' << 8));
    EXPECT_EQ(qoArraycCode::Coder("a"), 'a' | 0x100);
    EXPECT_EQ(qoArraycCode::Coder(nullptr), 0x0101);
}

TEST(ArraycCode, InsertDeleteSetAndFind) {
    CString buffer;
    qoArraycCode codes;
    ASSERT_NE(codes.SetWorkArea(buffer, 5), nullptr);
    EXPECT_EQ(buffer.GetLength(), 12);
    const char* texts[] = {"a", "b", "a", "c", "d"};
    for (int i = 0; i < 5; ++i) codes.SetArrayCode(texts[i], i);
    CString result;
    EXPECT_EQ(Rows(codes.FindRow("a", result)), std::vector<int>({0, 2}));
    EXPECT_EQ(std::strlen(buffer.c_str()), 10u);  // codes searchable as a zero-terminated string

    // a b a c d -> a [b a] b a c d: the opened slots keep what they held.
    EXPECT_EQ(codes.InsertCode(1, 2), 7);
    EXPECT_EQ(Rows(codes.FindRow("a", result)), std::vector<int>({0, 2, 4}));
    EXPECT_EQ(Rows(codes.FindRow("b", result)), std::vector<int>({1, 3}));
    codes.SetArrayCode("z", 1);
    EXPECT_EQ(Rows(codes.FindRow("b", result)), std::vector<int>({3}));
    EXPECT_EQ(codes.InsertCode(99, 1), 8);  // limited to the end
    EXPECT_EQ(codes.InsertCode(-1, 1), 8);
    EXPECT_EQ(codes.InsertCode(0, 0), 8);

    EXPECT_EQ(codes.DeleteCode(0, 0), 8);
    EXPECT_EQ(codes.DeleteCode(-1, 3), 8);
    EXPECT_EQ(codes.DeleteCode(8, 1), -1);
    EXPECT_EQ(codes.DeleteCode(0, 3), 5);  // b a c d, and the slot opened at the end
    EXPECT_EQ(Rows(codes.FindRow("a", result)), std::vector<int>({1}));
    EXPECT_EQ(codes.DeleteCode(2, 10), 2);
    EXPECT_EQ(buffer.GetLength(), 6);

    // A second object over the codes already in the buffer.
    qoArraycCode again;
    again.SetWorkArea(buffer, -1);
    EXPECT_EQ(Rows(again.FindRow(qoArraycCode::Coder("a"), result)), std::vector<int>({1}));
    EXPECT_EQ(again.DeleteCode(1, 1), 1);
}

TEST(ArraycCode, SetOutsideTheCodesShowsTheRangeMessage) {
    qotool::test::RecordingUi ui;
    CString buffer;
    qoArraycCode codes;
    codes.SetWorkArea(buffer, 2);
    codes.SetArrayCode("a", 2);
    codes.SetArrayCode("a", -1);
    qoArraycCode unset;
    unset.SetArrayCode("a", 0);
    ASSERT_EQ(ui.BoxTexts().size(), 3u);
    EXPECT_EQ(ui.BoxTexts()[0], "SetArrayCode()超出元素范围");
    CString result;
    EXPECT_EQ(Rows(codes.FindRow("a", result)), std::vector<int>());
    EXPECT_EQ(Rows(unset.FindRow("a", result)), std::vector<int>());
    EXPECT_EQ(unset.InsertCode(0, 1), 0);
    EXPECT_EQ(unset.DeleteCode(0, 1), -1);
}

}  // namespace
