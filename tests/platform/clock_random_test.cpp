// The 15-bit generator's known sequences, and the rand and clock built-ins
// on the clock's test seam (rand reseeds from the clock on every call).
#include <gtest/gtest.h>

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

TEST(RandomTest, KnownSequencesAndTheBuiltinsOnAFakeClock) {
    const struct {
        uint32_t seed;
        int first[5];
    } cases[] = {{1, {41, 18467, 6334, 26500, 19169}}, {0, {38, 7719, 21238, 2437, 8855}}};
    for (const auto& c : cases) {
        SeedRandom(c.seed);
        for (int expected : c.first) EXPECT_EQ(NextRandom(), expected) << "seed " << c.seed;
    }
    SetClockSourceForTest(&FakeClock);
    CQoLanguage qo;
    g_fakeNow = 1;
    // Within one millisecond every call gives the same number.
    EXPECT_EQ(qotool::test::RunAndResult(qo, "rand() == rand() && rand() == 41"), "N:1");
    g_fakeNow = 0;
    EXPECT_EQ(qotool::test::RunAndResult(qo, "rand()"), "N:38");
    g_fakeNow = 123456;
    EXPECT_EQ(qotool::test::RunAndResult(qo, "clock()"), "N:123456");
    SetClockSourceForTest(nullptr);
}

}  // namespace
