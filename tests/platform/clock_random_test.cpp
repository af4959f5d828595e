// The monotonic clock with its test seam, the 15-bit generator, and the
// rand and clock built-ins that read them.
#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/random.h"
#include "qotool/qolanguage.h"
#include "support/result_text.h"

namespace {

using qotool::platform::NextRandom;
using qotool::platform::SeedRandom;
using qotool::platform::SetClockSourceForTest;

int64_t g_fakeNow = 0;
int64_t FakeClock() { return g_fakeNow; }

class FakeClockTest : public ::testing::Test {
protected:
    void SetUp() override { SetClockSourceForTest(&FakeClock); }
    void TearDown() override { SetClockSourceForTest(nullptr); }
    std::string Run(const char* text) { return qotool::test::RunAndResult(qo, text); }
    CQoLanguage qo;
};

TEST(RandomTest, KnownSequences) {
    struct Case {
        uint32_t seed;
        int first[5];
    } cases[] = {
        {1, {41, 18467, 6334, 26500, 19169}},
        {0, {38, 7719, 21238, 2437, 8855}},
    };
    for (const Case& c : cases) {
        SeedRandom(c.seed);
        for (int expected : c.first) EXPECT_EQ(NextRandom(), expected) << "seed " << c.seed;
    }
}

TEST_F(FakeClockTest, RandIsReseededFromTheClockOnEveryCall) {
    g_fakeNow = 1;
    EXPECT_EQ(Run("rand()"), "N:41");
    // Within one millisecond every call gives the same number.
    EXPECT_EQ(Run("rand() == rand() && rand() == 41"), "N:1");
    g_fakeNow = 0;
    EXPECT_EQ(Run("rand()"), "N:38");
}

TEST_F(FakeClockTest, ClockReadsTheMillisecondClock) {
    g_fakeNow = 123456;
    EXPECT_EQ(Run("clock()"), "N:123456");
}

}  // namespace
