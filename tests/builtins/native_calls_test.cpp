// What the native-call cases cannot write down: byte layouts with zero
// bytes, string-object fields a native function made in a block, and
// string objects a callee leaves unmade.
#include <gtest/gtest.h>

#include <new>
#include <cstring>
#include <string>

#include "qotool/qolanguage.h"
#include "support/gbk_text.h"
#include "support/result_text.h"

namespace {

using qotool::test::Gbk;

class NativeCallsTest : public ::testing::Test {
protected:
    std::string Run(const std::string& text) { return qotool::test::RunAndResult(qo, text); }
    CQoLanguage qo;
};

TEST_F(NativeCallsTest, MemWriteLeavesTheVariablesBytes) {
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,8); MemWrite(p,'%4%2',1,2); b")), Gbk(std::string("S:\1\0\0\0\2\0\0\0", 10)));
    // A text field writes at most its length less one byte: here the last two bytes of the block.
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,4); MemWrite(p,'%1%b%s3',-1,5,'xyz'); MemStr(p,4)")),
              Gbk(std::string("S:\xFF\1xy", 6)));
    EXPECT_EQ(Gbk(Run("p=MemBuffer(b,10); MemWrite(p,'%g',-2); MemStr(p,8)")),
              Gbk(std::string("S:\0\0\0\0\0\0\0\xC0", 10)));
}

TEST_F(NativeCallsTest, StringObjectFieldsAreReadAndAssignedInPlace) {
    // A record whose fields a native function filled with string objects.
    const std::string pointer = Run("p=MemBuffer(b,16); p");
    ASSERT_EQ(pointer.substr(0, 2), "P:");
    auto* fields = reinterpret_cast<CString*>(std::stoull(pointer.substr(2)));
    new (&fields[0]) CString("left");
    new (&fields[1]) CString("right");
    EXPECT_EQ(Gbk(Run("n=MemRead(p,'%S%S',x,y); str(n)+x+y")), Gbk("S:16leftright"));
    // A write gives the fields new objects and leaves the old ones to the
    // function that made them.
    alignas(CString) unsigned char made[2 * sizeof(CString)];
    memcpy(made, fields, sizeof made);
    EXPECT_EQ(Gbk(Run("MemWrite(p,'%S%S','new','')")), Gbk("N:16"));
    EXPECT_EQ(Gbk(fields[0]), Gbk("new"));
    EXPECT_EQ(Gbk(fields[1]), Gbk(""));
    for (CString* old = reinterpret_cast<CString*>(made); old != reinterpret_cast<CString*>(made) + 2; ++old) {
        EXPECT_TRUE(old->IsValid());
        old->~CString();
    }
    fields[0].~CString();
    fields[1].~CString();
    const std::string refused = Run("q=MemBuffer(z,16); MemWrite(q+3,'%S','x')");
    EXPECT_EQ(refused.rfind("X:引用CString地址非法", 0), 0u) << Gbk(refused).bytes;
}

TEST_F(NativeCallsTest, AStringResultTheCalleeNeverMadeIsEmpty) {
    EXPECT_EQ(Gbk(Run("Dll::qoTool_NoQO::Test_DllCall_4('%S=')")), Gbk("S:"));
    EXPECT_EQ(Run("Dll::qoTool_NoQO::Test_DllCall_CString('%S=%1%S%S%1', 0, 'a', NULL, 0)").substr(0, 2), "X:");
}

}  // namespace
