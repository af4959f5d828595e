// What the native-call cases cannot write down: byte layouts with zero
// bytes, string-object fields in caller memory, and string objects a
// callee leaves unmade.
#include <gtest/gtest.h>

#include <string>

#include "qotool/qolanguage.h"
#include "support/gbk_text.h"
#include "support/result_text.h"

namespace {

using qotool::test::Gbk;

class NativeCallsTest : public ::testing::Test {
protected:
    std::string Run(const std::string& text) { return qotool::test::RunAndResult(qo, text); }
    // A QOL literal of a %mem pointer to p.
    static std::string MemPointer(const void* p) { return std::to_string((uintptr_t)p) + "%'P%mem'"; }
    CQoLanguage qo;
};

TEST_F(NativeCallsTest, MemWriteLeavesTheVariablesBytes) {
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,8); MemWrite(p,'%4%2',1,2); b")), Gbk(std::string("S:\1\0\0\0\2\0\0\0", 10)));
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,4); MemWrite(p,'%1%b%s3',-1,5,'xyz'); MemStr(p,5)")),
              Gbk(std::string("S:\xFF\1xy\0", 7)));
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,10); MemWrite(p,'%g',-2); MemStr(p,8)")),
              Gbk(std::string("S:\0\0\0\0\0\0\0\xC0", 10)));
}

TEST_F(NativeCallsTest, StringObjectFieldsAreReadAndAssignedInPlace) {
    CString fields[2] = {CString("left"), CString("right")};
    const std::string p = MemPointer(fields);
    EXPECT_EQ(Gbk(Run("n=MemRead(" + p + ",'%S%S',a,b); str(n)+a+b")), Gbk("S:16leftright"));
    EXPECT_EQ(Gbk(Run("MemWrite(" + p + ",'%S%S','new','')")), Gbk("N:16"));
    EXPECT_EQ(Gbk(fields[0]), Gbk("new"));
    EXPECT_EQ(Gbk(fields[1]), Gbk(""));
    char zeros[16] = {};
    const std::string refused = Run("MemWrite(" + MemPointer(zeros + 3) + ",'%S','x')");
    EXPECT_EQ(refused.rfind("X:引用CString地址非法", 0), 0u) << Gbk(refused).bytes;
}

TEST_F(NativeCallsTest, AStringResultTheCalleeNeverMadeIsEmpty) {
    EXPECT_EQ(Gbk(Run("Dll::qoTool_NoQO::Test_DllCall_4('%S=')")), Gbk("S:"));
    EXPECT_EQ(Run("Dll::qoTool_NoQO::Test_DllCall_CString('%S=%1%S%S%1', 0, 'a', NULL, 0)").substr(0, 2), "X:");
}

}  // namespace
