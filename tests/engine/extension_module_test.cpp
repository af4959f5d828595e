// The example extension module is loaded through the real loading path the
// first time a script calls ruqo_Chart_Create.
#include <gtest/gtest.h>

#include <string>

#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/result_text.h"

namespace {

std::string RunText(CQoLanguage& qo, const char* text) { return qotool::test::RunAndResult(qo, text); }

TEST(ExtensionModuleTest, ChartObjectThroughTheLoadedModule) {
    CQoLanguage qo;
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"c = ruqo_Chart_Create('sales'); c.Title()", "S:sales"},
        {"c.Add(12.5); c.Add(7); c.Count()", "N:2"},
        {"total = 0; c.Sum(&total); total", "N:19.5"},
        {"c.Nothing()", "X:"},
        {"forged = 12345%'P%Chart'; forged.Count()", "X:"},
    };
    for (const Case& c : cases) {
        std::string result = RunText(qo, c.text);
        if (std::string(c.expected) == "X:")
            EXPECT_EQ(result.rfind("X:执行非法功能：", 0), 0u) << result;
        else
            EXPECT_EQ(result, c.expected) << c.text;
    }
    // The module registered its executor while it loaded.
    EXPECT_NE(ruqo_UserQolExecutor("Chart", '?', 0), 0);
}

}  // namespace
