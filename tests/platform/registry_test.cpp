// The registry store on fixture files (the value types as scripts read them
// are in system.cases): escapes, continued lines and 64-bit values, names
// without regard to case, the 260-byte buffer, file order and overrides,
// deletions, and files with syntax errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/gbk_text.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

using namespace qotool::platform;

const std::string kFixture = std::string() +
    "REGEDIT4\r\n"
    "\r\n"
    "; a comment\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qo\\Home0]\r\n"
    "@=\"default text\"\r\n"
    "\"Text\"=\"C:\\\\oracle\\\\ora92 \\\"q\\\"\"\r\n"
    "\"Name\"=\"中文名\"\r\n"
    "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
    "\"Multi\"=hex(7):61,00,62,63,00,00\r\n"
    "\"Minus\"=dword:ffffffff\r\n"
    "\"Small\"=dword:0000002a\r\n"
    "\"Bin\"=hex:01,00,ff,\\\r\n"
    "  7f\r\n"
    "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "[HKLM\\software\\qo\\Home1]\r\n"
    "\"Long\"=\"" + std::string(259, 'x') + "\"\r\n"
    "\"TooLong\"=\"" + std::string(260, 'y') + "\"\r\n"
    "[HKEY_CURRENT_USER\\Environment]\r\n"
    "\"Path\"=\"user\"\r\n";

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() : folder_("qo_reg"), registry_("QO_REGISTRY", folder_.path()) {}

    std::string Read(uint32_t root, const char* key, const char* name, RegistryStatus expect = RegistryStatus::kOk) {
        RegistryValue value;
        EXPECT_EQ(RegistryQueryValue(root, key, name, value), expect) << key << " / " << name;
        return value.data;
    }

    TempDir folder_;
    EnvironmentVariable registry_;
};

TEST_F(RegistryTest, MissingKeysValuesAndLongValuesHaveTheirStatus) {
    folder_.Write("a.reg", kFixture);
    EXPECT_EQ(Read(kLocalMachine, "SOFTWARE\\Qo\\Home1", "Long").size(), 260u);
    Read(kLocalMachine, "SOFTWARE\\Qo\\Home1", "TooLong", RegistryStatus::kMoreData);
    RegistryValue whole;
    EXPECT_EQ(RegistryQueryValue(kLocalMachine, "SOFTWARE\\Qo\\Home1", "TooLong", whole, 0), RegistryStatus::kOk);
    EXPECT_EQ(whole.data.size(), 261u);
    EXPECT_EQ(Read(kLocalMachine, "Software\\QO\\home0", "TEXT"), std::string("C:\\oracle\\ora92 \"q\"", 20));
    EXPECT_EQ(Read(kLocalMachine, "Software\\QO\\home0", "Bin"), std::string("\x01\0\xFF\x7F", 4));
    EXPECT_EQ(Read(kLocalMachine, "Software\\QO\\home0", "Quad"), std::string("\x01\0\0\0\0\0\0\0", 8));
    Read(kLocalMachine, "SOFTWARE\\Qo\\Home1", "Nothing", RegistryStatus::kNoValue);
    Read(kLocalMachine, "SOFTWARE\\Qo\\Home9", "Long", RegistryStatus::kNoKey);
    Read(kCurrentUser, "SOFTWARE\\Qo\\Home0", "Text", RegistryStatus::kNoKey);
    Read(0x80000004u, "", "x", RegistryStatus::kNoKey);
    EXPECT_EQ(Read(kCurrentUser, "\\environment\\", "PATH"), std::string("user", 5));
    EXPECT_TRUE(RegistryKeyExists(kLocalMachine, ""));
    EXPECT_TRUE(RegistryKeyExists(kLocalMachine, "software"));
}

TEST_F(RegistryTest, LaterFilesOverrideAndDeleteAndChangesAreNoticed) {
    folder_.Write("a.reg", kFixture);
    EXPECT_EQ(Read(kLocalMachine, "SOFTWARE\\Qo\\Home0", "Small").size(), 4u);
    folder_.Write("b.reg",
                  "REGEDIT4\n[HKLM\\SOFTWARE\\Qo\\Home0]\n\"Small\"=\"now text\"\n\"Bin\"=-\n"
                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Qo\\Home1]\n");
    EXPECT_EQ(Read(kLocalMachine, "SOFTWARE\\Qo\\Home0", "Small"), std::string("now text", 9));
    Read(kLocalMachine, "SOFTWARE\\Qo\\Home0", "Bin", RegistryStatus::kNoValue);
    EXPECT_FALSE(RegistryKeyExists(kLocalMachine, "SOFTWARE\\Qo\\Home1"));
    std::vector<std::string> names;
    RegistrySubkeys(kLocalMachine, "SOFTWARE\\QO", names);
    EXPECT_EQ(names, std::vector<std::string>{"Home0"});
}

TEST_F(RegistryTest, UnicodeExportsAreRead) {
    // "Windows Registry Editor Version 5.00" files are UTF-16LE with a BOM.
    auto wide = [](const std::string& ascii) {
        std::string out;
        for (char c : ascii) out += std::string(1, c) + '\0';
        return out;
    };
    const std::string utf16 = std::string("\xFF\xFE") +
                              wide("Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\U]\r\n\"V\"=\"") +
                              std::string("\x2D\x4E", 2) + wide("\"\r\n\"E\"=hex(2):41,00,00,00\r\n");
    folder_.Write("u.reg", utf16);
    EXPECT_EQ(Gbk(Read(kUsers, "U", "V")), Gbk(std::string("中", 3)));
    EXPECT_EQ(Read(kUsers, "U", "E"), std::string("A\0", 2));
}

std::vector<std::string> g_reports;
void Record(const char* message, const char* text1, const char* text2) {
    g_reports.push_back(std::string(message) + text1 + "|" + text2);
}

TEST_F(RegistryTest, ASyntaxErrorIsReportedOnceAndTheRestLoads) {
    g_reports.clear();
    RegistryReporter previous = SetRegistryReporter(Record);
    folder_.Write("bad.reg",
                  "REGEDIT4\n\"Orphan\"=\"x\"\n[HKLM\\Ok]\n\"A\"=\"1\"\nnot a line\n\"B\"=dword:123456789\n"
                  "[NOROOT\\X]\n\"C\"=\"3\"\n");
    EXPECT_EQ(Read(kLocalMachine, "Ok", "A"), std::string("1", 2));
    Read(kLocalMachine, "Ok", "B", RegistryStatus::kNoValue);
    Read(kLocalMachine, "Ok", "C", RegistryStatus::kNoValue);  // its key line was bad
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_NE(g_reports[0].find("bad.reg（第2行，共4处）|\"Orphan\"=\"x\""), std::string::npos)
        << Readable(g_reports[0]);
    Read(kLocalMachine, "Ok", "A");  // unchanged files load no more
    EXPECT_EQ(g_reports.size(), 1u);
    SetRegistryReporter(previous);
}

}  // namespace
}  // namespace qotool::test
