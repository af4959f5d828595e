// The committed letter lists against readings taken from ICU once
// (tests/fixtures/letter_sample.txt, a sample of what
// tools/gen/gen_letter_lists.cpp wrote, with rows for every letter list).
// ICU is not needed to run these tests.
#include "textutil/letter_lists.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>


namespace {

using qotool::textutil::PinyinInitial;

std::string SamplePath() { return std::string(QOTOOL_TEST_QOL_DIR) + "/../fixtures/letter_sample.txt"; }

TEST(LetterListTest, AgreesWithIcuOnTheSample) {
    std::ifstream in(SamplePath());
    ASSERT_TRUE(in) << SamplePath();
    std::string line;
    int mismatches = 0;
    std::set<char> letters;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        unsigned code = 0;
        char letter = 0;
        ASSERT_EQ(sscanf(line.c_str(), "%4x %c", &code, &letter), 2) << line;
        const char expected = letter == '-' ? 0 : letter;
        const char actual = PinyinInitial((unsigned char)(code >> 8), (unsigned char)code);
        if (actual != expected && ++mismatches <= 20)
            ADD_FAILURE() << line << ": table has " << (actual ? std::string(1, actual) : "none");
        letters.insert(letter);
    }
    EXPECT_EQ(letters.size(), 23u) << "the sample lacks rows of some letter list";  // A..Z but I, U, V
    EXPECT_EQ(mismatches, 0);
}

TEST(LetterListTest, EveryGb2312HanziHasAnInitial) {
    int missing = 0;
    for (unsigned lead = 0xB0; lead <= 0xF7; ++lead)
        for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
            if (lead == 0xD7 && trail >= 0xFA) continue;  // not assigned
            if (!PinyinInitial((unsigned char)lead, (unsigned char)trail) && ++missing <= 10)
                ADD_FAILURE() << std::hex << lead << trail;
        }
    EXPECT_EQ(missing, 0);
}

TEST(LetterListTest, ListsIUAndVAreEmpty) {
    for (unsigned lead = 0; lead <= 0xFF; ++lead)
        for (unsigned trail = 0; trail <= 0xFF; ++trail) {
            const char c = PinyinInitial((unsigned char)lead, (unsigned char)trail);
            ASSERT_TRUE(c == 0 || (c >= 'A' && c <= 'Z')) << std::hex << lead << ' ' << trail;
            ASSERT_TRUE(c != 'I' && c != 'U' && c != 'V') << std::hex << lead << ' ' << trail;
        }
}

TEST(LetterListTest, CharactersWithoutReadingsHaveNoInitial) {
    struct Char {
        const char* what;
        const char* gbk;
    };
    const Char none[] = {
        {"full-width letter A", "Ａ"},
        {"pinyin letter a with macron", "ā"},
        {"full-width comma", "，"},
        {"ideographic space", "\xA1\xA1"},
        {"Greek alpha", "α"},
        {"user-defined area", "\xAA\xA1"},
    };
    for (const Char& c : none)
        EXPECT_EQ(PinyinInitial((unsigned char)c.gbk[0], (unsigned char)c.gbk[1]), 0) << c.what;
    // Out-of-range bytes never index the table.
    EXPECT_EQ(PinyinInitial(0x41, 0x41), 0);
    EXPECT_EQ(PinyinInitial(0x81, 0x3F), 0);
    EXPECT_EQ(PinyinInitial(0x81, 0xFF), 0);
    EXPECT_EQ(PinyinInitial(0xFF, 0xA1), 0);
}

TEST(LetterListTest, HanziOutsideGb2312AreCovered) {
    // Traditional and rarer characters from GBK's extension areas, and 〇
    // from a symbol row.
    const struct {
        const char* gbk;
        char initial;
    } cases[] = {
        {"丂", 'K'}, {"丄", 'S'}, {"誠", 'C'}, {"們", 'M'}, {"國", 'G'}, {"〇", 'L'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PinyinInitial((unsigned char)c.gbk[0], (unsigned char)c.gbk[1]), c.initial) << c.gbk;
}

}  // namespace
