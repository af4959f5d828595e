// The glossary: file form, lookups by language and item, parts, macros,
// commands, and the check and export (SQL recorded here; the real ODBC
// export is in odbc_test.cpp).
#include "host/glossary.h"

#include <gtest/gtest.h>

#include "host/sql_database.h"
#include "qotool/host.h"
#include "support/gbk_text.h"
#include "support/host_support.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

constexpr char kSample[] =
    "[S:Language]\r\n"
    "English;Chinese\r\n"
    "[OK]\r\n"
    "Confirm\r\n"
    "Valider\r\n"
    "[DLG]\r\n"
    "Dialog\r\n"
    ";w=100\r\n"
    ";h=  50  \r\n"
    "\t[TAB]\t\r\n"
    "   Tabbed  \t\r\n"
    "[EMPTY]\r\n"
    "\r\n"
    "Second\r\n"
    "[A]\r\n"
    "Apple\r\n"
    "\xC6\xBB\xB9\xFB\r\n"  // 苹果
    "Pomme\r\n"
    "[LIST]\r\n"
    "a; b ;c\r\n"
    "[Q]\r\n"
    "'quoted'\r\n";

class GlossaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::ResetGlossaryForTest();
        folder.Write("sample.txt", kSample);
        ASSERT_NE(std::string(ruqo_Gtc("F", Path("sample.txt").c_str())), "");
    }
    void TearDown() override { host::ResetGlossaryForTest(); }
    std::string Path(const char* name) { return folder.path() + "/" + name; }
    TempDir folder;
    RecordingUi ui;
};

struct Lookup {
    const char* language;
    const char* key;
    std::string text;
};

TEST_F(GlossaryTest, TextsByLanguageItemAndSuffix) {
    const Lookup rows[] = {
        {"1", "OK", "Confirm"},
        {"1", "DLG", "Dialog\r\n;w=100\r\n;h=  50"},
        {"1", "DLG.w", "100"},
        {"1", "DLG.h", "50"},
        {"1", "DLG.x", "DLG.x"},
        {"1", "NOPE.w", "NOPE.w"},
        {"1", "TAB", "Tabbed"},
        {"1", "EMPTY", "EMPTY"},
        {"1", "NOPE", "NOPE"},
        {"1", "S:Language", "English;Chinese"},
        {"2", "OK", "Valider"},
        {"2", "EMPTY", "Second"},
        {"2", "A", "\xC6\xBB\xB9\xFB"},
        {"2", "DLG", "DLG"},  // the next field is the next entry
        {"3", "OK", "OK"},
        {"3", "A", "Pomme"},
        {"-2", "OK", "ValiderOK"},
        {"-2", "NOPE", "NOPE"},
        {"-1", "DLG.w", "100DLG.w"},
        {"1", "OK", "Confirm"},
    };
    for (const Lookup& row : rows) {
        SCOPED_TRACE(std::string(row.language) + " " + row.key);
        EXPECT_EQ(std::string(ruqo_Gtc("l", row.language)),
                  std::string(row.language[0] == '-' ? row.language + 1 : row.language));
        EXPECT_EQ(Gbk(ruqo_Gt(row.key)), Gbk(row.text));
    }
    EXPECT_EQ(std::string(ruqo_Gtc("L", "0")), "1");
    EXPECT_EQ(std::string(ruqo_Gtc("L", "abc")), "1");
    EXPECT_EQ(std::string(ruqo_Gt(nullptr)), "");
    const char* key = "NOPE";
    EXPECT_EQ(ruqo_Gt(key), key);  // an absent key is answered with itself
}

TEST_F(GlossaryTest, PartsOfATextBetweenSeparators) {
    const struct {
        const char* key;
        int n;
        const char* separator;
        const char* part;
    } rows[] = {
        {"LIST", 1, ";", "a"},       {"LIST", 2, ";", "b"},    {"LIST", 3, ";", "c"},
        {"LIST", 5, ";", "LIST[3]"}, {"LIST", 0, ";", "a"},    {"LIST", 2, " ;", "c"},
        {"x;y", 2, ";", "y"},        {"LIST", 2, "", ""},      {"S:Language", 2, ";", "Chinese"},
        {nullptr, 1, ";", ""},       {"LIST", 1, nullptr, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key ? row.key : "(null)") + " " + std::to_string(row.n));
        EXPECT_EQ(Gbk(ruqo_Gts(row.key, row.n, row.separator)), Gbk(row.part));
    }
}

TEST_F(GlossaryTest, LoadingBuildsTheFormFeedTextAndAddsOrReplaces) {
    folder.Write("small.txt", "  [K]\t\r\n v1 \r\n;i=1\r\n");
    const std::string small = Path("small.txt");
    EXPECT_EQ(Gbk(ruqo_Gtc("f", small.c_str())), Gbk("\f[K]\fv1\r\n;i=1\f\f[END]" + small));
    EXPECT_EQ(Gbk(ruqo_Gt("OK")), Gbk("OK"));  // replaced
    const std::string both = ruqo_Gtc("F", ("+" + Path("sample.txt")).c_str());
    EXPECT_EQ(both.rfind("\f[K]", 0), 0u);
    EXPECT_EQ(Gbk(ruqo_Gt("OK")), Gbk("Confirm"));
    EXPECT_EQ(Gbk(ruqo_Gt("K.i")), Gbk("1"));
    // A file with only line feeds is one line.
    folder.Write("lf.txt", "[LF]\nline\n");
    ruqo_Gtc("F", Path("lf.txt").c_str());
    EXPECT_EQ(Gbk(ruqo_Gt("LF")), Gbk("LF"));
    // A file that cannot be read still empties the glossary.
    EXPECT_EQ(Gbk(ruqo_Gtc("F", Path("missing.txt").c_str())), Gbk(""));
    EXPECT_EQ(Gbk(host::GlossaryText()), Gbk(""));
    const auto boxes = ui.Of(RecordingUi::Kind::kBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Gbk(boxes[0].caption), Gbk("不能加载文件"));
    EXPECT_EQ(boxes[0].text, Path("missing.txt"));
}

TEST_F(GlossaryTest, MacrosReferencesAndOtherCommands) {
    const struct {
        const char* command;
        const char* argument;
        const char* answer;
    } rows[] = {
        {"M", "Press %[OK] now", "Press Confirm now"},
        {"Macro", "%[OK]%[A]-%[NOPE]", "ConfirmApple-NOPE"},
        {"M", "open %[OK", "open Confirm"},
        {"M", "no references", "no references"},
        {"M", "\\'%[Q]", "\\'quoted'"},  // the escaped character is not doubled
        {"M", "\\<'%[Q]", "\\<'quoted'"},
        {"M", "\\x%[Q]", "\\x'quoted'"},
        {"M", "\\a%[]abc", "\\abc"},  // an empty replacement: the rest's first character
        {"T", "x%[KEY]y", "KEY"},
        {"t", "x%[KEY", "KEY"},
        {"T", "plain", "plain"},
        {"W", "anything", ""},
        {"F", nullptr, ""},
        {nullptr, "x", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.command ? row.command : "(null)") + " " + (row.argument ? row.argument : ""));
        EXPECT_EQ(Gbk(ruqo_Gtc(row.command, row.argument)), Gbk(row.answer));
    }
    EXPECT_EQ(ui.BoxTexts().size(), 0u);
    EXPECT_EQ(Gbk(ruqo_Gtc("Zap", "x")), Gbk(""));
    EXPECT_EQ(Gbk(ruqo_Gtc("", "x")), Gbk(""));
    ASSERT_EQ(ui.BoxTexts().size(), 2u);
    EXPECT_EQ(Gbk(ui.BoxTexts()[0]), Gbk("Function ruqo_Gtc Has Invalid Command：Zap"));
}

// Records the statements; fails those that contain failOn.
class RecordingDatabase : public host::SqlDatabase {
public:
    bool CreateDataSource(const std::string& specification) override {
        opened.push_back(specification);
        return true;
    }
    bool Open(const std::string& connection, std::string&) override {
        opened.push_back(connection);
        return true;
    }
    bool Execute(const std::string& statement, std::string& error) override {
        statements.push_back(statement);
        error = "refused";
        return failOn.empty() || statement.find(failOn) == std::string::npos;
    }
    void Close() override { ++closed; }
    std::vector<std::string> opened, statements;
    std::string failOn;
    int closed = 0;
};

TEST_F(GlossaryTest, BrokenSectionsAnswerAsTheTextSearchWould) {
    folder.Write("broken.txt", "[UNCLOSED\r\nu\r\n[]\r\nempty key\r\n[A]B]\r\nx\r\n[\r\n]\r\n;=\r\n");
    ruqo_Gtc("F", Path("broken.txt").c_str());
    const struct {
        const char* key;
        const char* text;
    } rows[] = {
        {"UNCLOSED", "UNCLOSED"}, {"", "empty key"}, {"A", "x"}, {"A]B", "x"}, {"B", "B"},
        {"A]B]\fx", "A]B]\fx"},   {"[", "["},        {".", "."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(Gbk(ruqo_Gt(row.key)), Gbk(row.text));
    }
    RecordingDatabase database;
    host::SqlDatabase* previous = host::SetExportDatabaseForTest(&database);
    EXPECT_EQ(Gbk(ruqo_Gtc("C", "")), Gbk(""));  // sections without "]" are no entries
    host::SetExportDatabaseForTest(previous);
    ASSERT_EQ(database.statements.size(), 3u);
    EXPECT_EQ(database.statements[1], "insert into C:\\GlossaryOut.dbf(f_name,f_title1) values ('','empty key')");
}

TEST_F(GlossaryTest, CheckReportsAndExportIssuesTheDefinedSql) {
    folder.Write("check.txt",
                 "[S:Language]\r\nEnglish;French\r\nEnglish;French\r\n[BEGIN]\r\nx\r\n"
                 "[OK]\r\nConfirm\r\nValider\r\n[DLG]\r\nw=100\r\n;h=it's\r\n;w=again\r\n[A]\r\nApple\r\n"
                 "[OK]\r\nAgain\r\n[OK]\r\nThird\r\n[B]\r\nOne\r\nTwo\r\nThree\r\n"
                 "[Q]\r\nsay \"hi\" it's\r\nplain \"hi\"\r\n[LONG]\r\n" +
                     std::string(100, 'x') + "\r\ny\r\n[END]\r\n");
    ruqo_Gtc("F", Path("check.txt").c_str());
    ruqo_Gtc("L", "-2");
    RecordingDatabase database;
    database.failOn = "'Two'";
    host::SqlDatabase* previous = host::SetExportDatabaseForTest(&database);
    LogRecorder log;
    const std::string report = ruqo_Gtc("C", "");
    host::SetExportDatabaseForTest(previous);
    EXPECT_EQ(Gbk(report), Gbk("[DLG<Language][DLG.w<Language][DLG.h<Language][DLG.w?Repeat][A<Language]"
                               "[OK?Repeat][B>Language]"));
    EXPECT_EQ(std::string(ruqo_Gtc("L", "0")), "2");
    EXPECT_EQ(database.opened,
              (std::vector<std::string>{"new=vfp;DSN=rufxp;SourceDB=c:\\;SourceType=DBF", "DSN=rufxp"}));
    EXPECT_EQ(database.closed, 1);
    const std::string into = "insert into C:\\GlossaryOut.dbf(f_name,f_title1,f_title2) values (";
    const std::vector<std::string> expected = {
        "create table C:\\GlossaryOut.dbf(f_name char(32),f_title1 char(100),f_title2 char(100))",
        into + "'S:Language','English;French','English;French')",
        into + "'OK','Confirm','Valider')",
        into + "'DLG',\"w=100\\/;h=it's\\/;w=again\",'')",
        into + "'DLG.w','100','')",
        into + "'DLG.h',\"it's\",'')",
        into + "'A','Apple','')",
        into + "'B','One','Two')",
        "insert into C:\\GlossaryOut.dbf(f_name,f_title1) values ('B','***Write Failure***')",
        into + "'Q',\"say ''hi'' it's\",'plain \"hi\"')",
        into + "'LONG','" + std::string(90, 'x') + " ...','y')",
    };
    EXPECT_EQ(database.statements.size(), expected.size());
    for (size_t i = 0; i < expected.size() && i < database.statements.size(); ++i)
        EXPECT_EQ(Gbk(database.statements[i]), Gbk(expected[i])) << i;
    ASSERT_EQ(log.lines().size(), 1u);  // the failed row
    EXPECT_EQ(log.lines()[0].text1, expected[7]);
}

}  // namespace
}  // namespace qotool::test
