// The command service: every command, the word list and the mail module.
#include "host/command_service.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "qotool/host.h"
#include "support/gbk_text.h"
#include "support/host_support.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

class CommandServiceTest : public ::testing::Test {
protected:
    void SetUp() override { host::ResetCommandServiceForTest(); }
    void TearDown() override { host::ResetCommandServiceForTest(); }
    void UseDirectory(const std::string& dir) { ruqo_Cmd("SYSLIB_DIR", (dir + "qotool.so").c_str(), 0); }
    RecordingUi ui;
};

struct Row {
    const char* command;
    const char* argument;
    int number;
    std::string answer;
};

void ExpectAll(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.command ? row.command : "(null)") + " " +
                     (row.argument ? row.argument : "(null)") + " " + std::to_string(row.number));
        EXPECT_EQ(Gbk(ruqo_Cmd(row.command, row.argument, row.number)), Gbk(row.answer));
    }
}

TEST_F(CommandServiceTest, DirectoriesVersionAndUnknownCommands) {
    ExpectAll({
        {nullptr, "x", 0, ""},
        {"VERSION", nullptr, 0, ""},
        {"sysLib_dir", "c:\\a\\b\\qotool.dll", 0, "C:\\A\\B\\"},
        {"MAIN_DIR", "", 0, "C:\\A\\"},
        {"SYSLIB_DIR", "no separator", 0, "C:\\A\\B\\"},
        {"SYSLIB_DIR", "/opt/Qo\xB0\\lib/x.so", 0, "/OPT/QO\xB0\\LIB/"},  // a trail byte is no separator
        {"MAIN_DIR", "ignored", 0, "/OPT/"},
        {"NOSUCH", "x", 0, ""},
        {"VCWINAPP", "+", 0, ""},
    });
    EXPECT_TRUE(host::HasStandaloneApplication());
    ruqo_Cmd("vcwinapp", "-", 0);
    EXPECT_FALSE(host::HasStandaloneApplication());
    const std::string version = ruqo_Cmd("version", "", 0);
    EXPECT_EQ(version.substr(version.size() - 10), "2002-05-17");
    EXPECT_EQ(std::string(pf_cmd("MAIN_DIR", "", 0)), "/OPT/");
}

TEST_F(CommandServiceTest, AppFileFindsLoadedModulesElseTheProgram) {
    const std::string libc = ruqo_Cmd("APP_FILE", "libc", 0);
    EXPECT_NE(libc.find("libc.so"), std::string::npos) << libc;
    EXPECT_EQ(std::string(ruqo_Cmd("APP_FILE", "C.DLL", 0)), libc);
    const std::string program = std::filesystem::canonical("/proc/self/exe").string();
    EXPECT_EQ(std::string(ruqo_Cmd("APP_FILE", "nosuch", 0)), program);
}

TEST_F(CommandServiceTest, GlossaryMovesAlongTheWordList) {
    TempDir folder;
    folder.Write("GLOSSARY.INF", "red\r\ngreen\r\nblue\r\n\xC0\xB6\xC9\xAB");
    UseDirectory(folder.path() + "/");
    ExpectAll({
        {"glossary", "nothing read", 0, "nothing read"},
        {"GLOSSARY", "green", 1, "blue"},
        {"GLOSSARY", "green", -1, "red"},
        {"GLOSSARY", "green", 2, "\xC0\xB6\xC9\xAB"},
        {"GLOSSARY", "green", 9, "\xC0\xB6\xC9\xAB"},  // stops at the last entry
        {"GLOSSARY", "blue", -9, "red"},               // and at the first
        {"GLOSSARY", "gree", 1, "gree"},               // whole entries only
        {"GLOSSARY", "purple", 1, "purple"},
    });
    EXPECT_EQ(ui.BoxTexts().size(), 0u);
}

TEST_F(CommandServiceTest, MissingWordListIsShownOnceAndNeverLoaded) {
    TempDir folder;
    UseDirectory(folder.path() + "/");
    EXPECT_EQ(Gbk(ruqo_Cmd("GLOSSARY", "green", 0)), Gbk("green"));  // number 0 reads nothing
    EXPECT_EQ(ui.BoxTexts().size(), 0u);
    EXPECT_EQ(Gbk(ruqo_Cmd("GLOSSARY", "green", 1)), Gbk(""));
    folder.Write("GLOSSARY.INF", "green\nblue\n");
    EXPECT_EQ(Gbk(ruqo_Cmd("GLOSSARY", "green", 1)), Gbk("green"));
    const auto boxes = ui.Of(RecordingUi::Kind::kBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Gbk(boxes[0].caption), Gbk("词典不存在"));
    EXPECT_EQ(boxes[0].text, folder.path() + "/GLOSSARY.INF");
}

TEST_F(CommandServiceTest, MailModuleIsLoadedOnDemandAndClosed) {
    ExpectAll({{"MAIL>CLOSE", "CLIENT", 0, ""}});  // nothing loaded: nothing to close
    EXPECT_EQ(ui.BoxTexts().size(), 0u);
    UseDirectory(std::string(QOTOOL_TEST_MODULE_DIR) + "/");
    ExpectAll({
        {"mail>send", "hello", 0, "1"},
        {"MAIL>SEND", "again", 0, "2"},
        {"MAIL>RECEIVE", "", 0, "hello"},
        {"MAIL>HISTORY", "", 0, "CREATE CLIENT;SEND hello;SEND again;RECEIVE "},
        {"MAIL>CLOSE", "CLIENT", 0, ""},
        // Loaded again: a fresh module whose client is created first.
        {"MAIL>COUNT", "", 0, "0"},
        {"MAIL>HISTORY", "", 0, "CREATE CLIENT;COUNT "},
    });
    EXPECT_EQ(ui.BoxTexts().size(), 0u);
}

TEST_F(CommandServiceTest, MissingMailModuleIsShownOnceAndTriedAgain) {
    TempDir folder;
    UseDirectory(folder.path() + "/");
    ExpectAll({{"MAIL>SEND", "x", 0, ""}, {"MAIL>SEND", "x", 0, ""}});
    // A module without pb_command counts as missing.
    std::filesystem::copy_file(std::string(QOTOOL_TEST_MODULE_DIR) + "/qo_module_a.so", folder.path() + "/postbox.so");
    ExpectAll({{"MAIL>SEND", "x", 0, ""}});
    std::filesystem::remove(folder.path() + "/postbox.so");
    std::filesystem::copy_file(std::string(QOTOOL_TEST_MODULE_DIR) + "/postbox.so", folder.path() + "/postbox.so");
    ExpectAll({{"MAIL>SEND", "x", 0, "1"}});
    const auto boxes = ui.Of(RecordingUi::Kind::kBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Gbk(boxes[0].caption), Gbk("文件不存在"));
    EXPECT_EQ(boxes[0].text, folder.path() + "/postbox.so");
}

}  // namespace
}  // namespace qotool::test
