// What the string cases (tests/qol/strings.cases) cannot show: MacroReplace
// evaluates its macros as a level of its own and leaves the level start on
// the caller's text.
#include "builtins/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/run_context.h"
#include "qotool/qolanguage.h"
#include "support/gbk_text.h"

namespace qotool::builtins {
namespace {

TEST(StringBuiltinMacro, LevelStartStaysOnTheCallersText) {
    CQoLanguage qo;
    std::string source = "('a%[1+1]b%[nosuch]')";
    char* cursor = source.data();
    engine::LevelGuard run(&qo, 'P', source.data());  // as inside DoQol
    qo.FunctionBracketTrace(cursor, '(');
    engine::CatchScope catcher(qo.m_pRun);
    MacroReplace(&qo, cursor, "");
    EXPECT_EQ(test::Gbk(qo.m_strValue), test::Gbk("a2b%[nosuch]"));
    const char* start = qo.m_pRun->levelStart.at((size_t)qo.m_pRun->level);
    EXPECT_TRUE(start >= source.data() && start <= source.data() + source.size());
}

}  // namespace
}  // namespace qotool::builtins
