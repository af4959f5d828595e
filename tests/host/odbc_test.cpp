// ODBC data sources, Oracle service names and the glossary export over
// unixODBC and the SQLite ODBC driver, in hermetic data-source files.
#include "platform/odbc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/glossary.h"
#include "host/odbc_config.h"
#include "platform/registry.h"
#include "qotool/host.h"
#include "support/gbk_text.h"
#include "support/host_support.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

constexpr char kSqliteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// Data-source files of their own: SQLite registered as itself and under the
// driver names the aliases use; the FoxPro name with a setup routine.
// unixODBC keeps the folders it found first for the life of the process, so
// the folder is one per process and each test writes the files afresh.
class OdbcTest : public ::testing::Test {
protected:
    OdbcTest() : root(Folder()), registry_("QO_REGISTRY", root.path() + "/reg") {
        const std::string driver = std::string("Driver=") + kSqliteDriver + "\n";
        root.Write("sys/odbcinst.ini",
                   "[SQLite3]\nDescription=SQLite3 ODBC Driver\n" + driver + "\n[Microsoft dBase Driver (*.dbf)]\n" +
                       driver + "\n[Microsoft ODBC for Oracle]\n" + driver + "\n[Microsoft Visual FoxPro Driver]\n" +
                       driver + "Setup=" + QOTOOL_TEST_MODULE_DIR + "/qo_odbc_setup.so\n");
        root.Write("sys/odbc.ini", "");
        root.Write("user.ini", "");
        std::filesystem::remove_all(root.path() + "/c");
        std::filesystem::remove_all(root.path() + "/reg");
        root.MakeDir("c");
        root.MakeDir("reg");
        platform::ReloadRegistry();
    }
    ~OdbcTest() override { platform::ReloadRegistry(); }

    static const TempDir& Folder() {
        static TempDir* folder = [] {
            auto* made = new TempDir("qotool_odbc");
            setenv("ODBCSYSINI", (made->path() + "/sys").c_str(), 1);
            setenv("ODBCINI", (made->path() + "/user.ini").c_str(), 1);
            setenv("HOME", made->path().c_str(), 1);
            setenv("QO_DRIVE_C", (made->path() + "/c").c_str(), 1);
            std::atexit([] { delete folder; });
            return made;
        }();
        return *folder;
    }

    std::string UserIni() { return TempDir::Read(root.path() + "/user.ini"); }
    std::string SystemIni() { return TempDir::Read(root.path() + "/sys/odbc.ini"); }

    const TempDir& root;
    LogRecorder log;
    RecordingUi ui;

private:
    EnvironmentVariable registry_;
};

TEST_F(OdbcTest, SqliteDataSourceIsCreatedModifiedAndRemoved) {
    const std::string db = root.path() + "/parts.db";
    const std::string add = "add=?sqlite;DSN=Parts;Database=" + db + ";Timeout=1000";
    ASSERT_EQ(ruqo_ConfigDataSource(add.c_str(), 7), 1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("add数据源成功,驱动程序和语法："));
    EXPECT_EQ(log.lines()[0].mode, 16);
    EXPECT_EQ(log.lines()[0].text1, "SQLite3");
    EXPECT_EQ(log.lines()[0].text2, add);
    EXPECT_EQ(log.lines()[0].reserved, 7);
    EXPECT_NE(UserIni().find("[Parts]"), std::string::npos) << UserIni();
    EXPECT_NE(UserIni().find("Timeout"), std::string::npos);

    platform::OdbcConnection connection;
    std::string error;
    ASSERT_TRUE(connection.Open("DSN=Parts", error)) << error;
    ASSERT_TRUE(connection.Execute("create table part(name text, size integer)", error)) << error;
    ASSERT_TRUE(connection.Execute("insert into part values ('bolt', 3)", error)) << error;
    std::vector<std::vector<std::string>> rows;
    ASSERT_TRUE(connection.Query("select name, size from part", rows, error)) << error;
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"bolt", "3"}}));
    EXPECT_FALSE(connection.Execute("select * from nosuch", error));
    EXPECT_NE(error.find("nosuch"), std::string::npos) << error;
    connection.Close();

    EXPECT_EQ(ruqo_ConfigDataSource("MODIFY=sqlite3;DSN=Parts;Timeout=2000", 0), 1);
    EXPECT_NE(UserIni().find("2000"), std::string::npos) << UserIni();
    EXPECT_EQ(ruqo_ConfigDataSource("remove=SQLite3;DSN=Parts", 0), 1);
    EXPECT_EQ(UserIni().find("[Parts]"), std::string::npos) << UserIni();
    EXPECT_FALSE(connection.Open("DSN=NeverMade", error));
    EXPECT_NE(error.find("IM002"), std::string::npos) << error;
    log.Clear();
    EXPECT_EQ(ruqo_ConfigDataSource("remove=SQLite3;DSN=Parts", 0), 0);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("remove数据源失败,驱动程序和语法："));
    EXPECT_EQ(log.lines()[0].mode, 1);
}

TEST_F(OdbcTest, SystemScopeQuietFailuresAndDriverOrder) {
    EXPECT_EQ(ruqo_ConfigDataSource("sys_add=SQLite3;DSN=Shared;Database=/tmp/x.db", 0), 1);
    EXPECT_NE(SystemIni().find("[Shared]"), std::string::npos);
    EXPECT_EQ(UserIni().find("[Shared]"), std::string::npos);
    EXPECT_EQ(ruqo_ConfigDataSource("?sys_remove=SQLite3;DSN=Shared", 0), 1);
    EXPECT_EQ(SystemIni().find("[Shared]"), std::string::npos);

    const struct {
        const char* line;
        int result;
        std::vector<std::string> messages;
        std::vector<int> modes;
        const char* driver;  // text1 of the outcome
    } rows[] = {
        {"?add=?nothing;DSN=A",
         0,
         {"?nothing 不能模糊匹配上任何ODBC驱动", "?add数据源失败,驱动程序和语法："},
         {16, 16},
         ""},
        {"add=oracle;DSN=A", 0, {"?oracle 不能模糊匹配上任何ODBC驱动", "add数据源失败,驱动程序和语法："}, {1, 1}, ""},
        {"new=dbf|fxp;DSN=A", 1, {"new数据源成功,驱动程序和语法："}, {16}, "Microsoft dBase Driver (*.dbf)"},
        {"new=fxp|dbf;DSN=B", 1, {"new数据源成功,驱动程序和语法："}, {16}, "Microsoft dBase Driver (*.dbf)"},
        {"new=fxp;DSN=B", 0, {"new数据源失败,驱动程序和语法："}, {1}, "Microsoft FoxPro Driver (*.dbf)"},
        {"copy=SQLite3;DSN=A", 0, {"copy数据源失败,驱动程序和语法："}, {1}, "SQLite3"},
        {"add=SQLite3;Database=/tmp/x.db", 0, {"add数据源失败,驱动程序和语法："}, {1}, "SQLite3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        log.Clear();
        EXPECT_EQ(ruqo_ConfigDataSource(row.line, 0), row.result);
        ASSERT_EQ(log.lines().size(), row.messages.size());
        for (size_t i = 0; i < row.messages.size(); ++i) {
            EXPECT_EQ(Gbk(log.lines()[i].message), Gbk(row.messages[i]));
            EXPECT_EQ(log.lines()[i].mode, row.modes[i]);
        }
        EXPECT_EQ(log.lines().back().text1, row.driver);
    }
    EXPECT_NE(UserIni().find("[A]"), std::string::npos);
    EXPECT_NE(UserIni().find("Driver=Microsoft dBase Driver (*.dbf)"), std::string::npos) << UserIni();
}

TEST_F(OdbcTest, MalformedLinesMakeNoRequest) {
    for (const char* line : {"", "add", "add;DSN=A", ";add=SQLite3", "add=SQLite3"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(ruqo_ConfigDataSource(line, 0), 0);
    }
    EXPECT_EQ(ruqo_ConfigDataSource(nullptr, 0), 0);
    EXPECT_EQ(log.lines().size(), 0u);
    EXPECT_EQ(Gbk(ruqo_Cmd("DATASRC", "add=SQLite3;DSN=Cmd;Database=/tmp/c.db", 0)), Gbk("1"));
    EXPECT_EQ(Gbk(ruqo_Cmd("datasrc", "add", 0)), Gbk("0"));
}

TEST_F(OdbcTest, WithoutUnixOdbcEveryCallFails) {
    platform::SetOdbcLibrariesForTest("libqo_no_odbcinst.so.9", "libqo_no_odbc.so.9");
    EXPECT_TRUE(platform::InstalledOdbcDrivers().empty());
    EXPECT_FALSE(platform::RegistryKeyExists(platform::kLocalMachine, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"));
    EXPECT_FALSE(platform::RegistryKeyExists(platform::kLocalMachine, "SOFTWARE\\ODBC"));
    EXPECT_EQ(ruqo_ConfigDataSource("add=?sqlite;DSN=A", 0), 0);
    EXPECT_EQ(ruqo_ConfigDataSource("add=SQLite3;DSN=A", 0), 0);
    std::string error;
    platform::OdbcConnection connection;
    EXPECT_FALSE(connection.Open("DSN=A", error));
    EXPECT_NE(error.find("not available"), std::string::npos) << error;
    EXPECT_EQ(platform::ConfigOdbcDataSource(1, "SQLite3", std::string("DSN=A\0", 6), error), false);
    EXPECT_NE(error.find("not available"), std::string::npos) << error;
    // The glossary check still reports; the export is refused in the log.
    root.Write("glossary.txt", "[OK]\r\nConfirm\r\n[OK]\r\n");
    ruqo_Gtc("F", (root.path() + "/glossary.txt").c_str());
    log.Clear();
    EXPECT_EQ(Gbk(ruqo_Gtc("C", "")), Gbk("[OK?Repeat]"));
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("new数据源失败,驱动程序和语法："));
    EXPECT_NE(log.lines()[1].message.find("not available"), std::string::npos);
    host::ResetGlossaryForTest();
    platform::SetOdbcLibrariesForTest(nullptr, nullptr);
    EXPECT_EQ(platform::InstalledOdbcDrivers().size(), 4u);
}

TEST(OdbcStatementTest, DrivePathTablesAreQuoted) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"create table C:\\GlossaryOut.dbf(f_name char(32))", "create table \"C:\\GlossaryOut.dbf\"(f_name char(32))"},
        {"insert into C:\\G.dbf(a) values ('C:\\x','it''s C:\\y')",
         "insert into \"C:\\G.dbf\"(a) values ('C:\\x','it''s C:\\y')"},
        {"select \"C:\\q\" from t", "select \"C:\\q\" from t"},
        {"select a:\\b, xc:\\d from t", "select \"a:\\b\", xc:\\d from t"},
        {"select 1", "select 1"},
    };
    for (const auto& row : rows) EXPECT_EQ(platform::QuoteDrivePathTables(row.in), row.out);
}

constexpr char kExportGlossary[] =
    "[S:Language]\r\nEnglish;French\r\n[OK]\r\nConfirm\r\nValider\r\n[DLG]\r\nw=100\r\n;h=it's\r\n"
    "[B]\r\nOne\r\nbad two\r\n";

TEST_F(OdbcTest, GlossaryExportFillsARealTable) {
    root.Write("glossary.txt", kExportGlossary);
    ruqo_Gtc("F", (root.path() + "/glossary.txt").c_str());
    EXPECT_EQ(Gbk(ruqo_Gtc("C", "")), Gbk("[S:Language<Language][DLG<Language][DLG.w<Language][DLG.h<Language]"));
    EXPECT_NE(UserIni().find("SourceDB=c:\\"), std::string::npos) << UserIni();
    platform::OdbcConnection connection;
    std::string error;
    ASSERT_TRUE(connection.Open(host::kExportConnection, error)) << error;
    std::vector<std::vector<std::string>> rows;
    ASSERT_TRUE(connection.Query("select f_name, f_title1, f_title2 from C:\\GlossaryOut.dbf", rows, error)) << error;
    const std::vector<std::vector<std::string>> expected = {
        {"S:Language", "English;French", ""},
        {"OK", "Confirm", "Valider"},
        {"DLG", "w=100\\/;h=it's", ""},
        {"DLG.w", "100", ""},
        {"DLG.h", "it's", ""},
        {"B", "One", "bad two"},
    };
    EXPECT_EQ(rows, expected);
    host::ResetGlossaryForTest();
}

TEST_F(OdbcTest, GlossaryExportWritesFailedRowsAsFailures) {
    // The table exists already and refuses second texts with "bad".
    ASSERT_EQ(ruqo_ConfigDataSource(("add=SQLite3;DSN=Pre;Database=" + root.path() + "/c/rufxp.db").c_str(), 0), 1);
    platform::OdbcConnection connection;
    std::string error;
    ASSERT_TRUE(connection.Open("DSN=Pre", error)) << error;
    ASSERT_TRUE(
        connection.Execute("create table C:\\GlossaryOut.dbf(f_name char(32), f_title1 char(100), "
                           "f_title2 char(100) check (f_title2 not like '%bad%'))",
                           error))
        << error;
    connection.Close();
    root.Write("glossary.txt", kExportGlossary);
    ruqo_Gtc("F", (root.path() + "/glossary.txt").c_str());
    log.Clear();
    ruqo_Gtc("C", "");
    ASSERT_TRUE(connection.Open("DSN=Pre", error)) << error;
    std::vector<std::vector<std::string>> rows;
    ASSERT_TRUE(connection.Query("select f_name, f_title1 from C:\\GlossaryOut.dbf where f_name='B'", rows, error));
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"B", "***Write Failure***"}}));
    // The refused create and the refused row are in the log with the driver's words.
    int refused = 0;
    for (const auto& line : log.lines()) refused += line.mode == 2 && !line.message.empty();
    EXPECT_EQ(refused, 2);
    host::ResetGlossaryForTest();
}

class OdbcOracleTest : public OdbcTest {
protected:
    void WriteRegistry() {
        root.Write(
            "reg/oracle.reg",
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\ALL_HOMES]\r\n\"LAST_HOME\"=\"1\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\HOME0]\r\n\"ORACLE_HOME\"=\"C:\\\\oracle\\\\ora0\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\HOME1]\r\n\"ORACLE_HOME\"=\"C:\\\\oracle\\\\ora1\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\KEY_OraDb11g]\r\n\"ORACLE_HOME\"=\"C:\\\\app\\\\db11\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\KEY_Broken]\r\n\"OTHER\"=\"x\"\r\n");
        platform::ReloadRegistry();
    }
    std::string Tns(const char* home) { return root.path() + "/c/" + home + "/network/admin/tnsnames.ora"; }
};

TEST_F(OdbcOracleTest, EntriesAreReplacedInPlaceInEveryHome) {
    WriteRegistry();
    const std::string before = "# names\r\n\r\nSALES =\r\n  (old)\r\n\r\nOTHER =\r\n  (x)\r\n";
    root.Write("c/oracle/ora0/network/admin/tnsnames.ora", before);
    root.Write("c/app/db11/network/admin/tnsnames.ora", "");
    const char* line = "COMPUTER=db.example;DATABASE=orcl;SERVER=sales";
    EXPECT_EQ(ruqo_ConfigOracleServerName(line), 2);
    const std::string entry = host::TnsEntry("SALES", "db.example", "orcl");
    EXPECT_EQ(entry,
              "\r\nSALES =\r\n  (DESCRIPTION =\r\n    (ADDRESS_LIST =\r\n      (ADDRESS = (PROTOCOL = TCP)(HOST "
              "=db.example)(PORT = 1521))\r\n    )\r\n    (CONNECT_DATA = (SERVICE_NAME = orcl))\r\n  )\r\n");
    const std::string after = "# names\r\n" + entry + "\r\n\r\nOTHER =\r\n  (x)\r\n";
    EXPECT_EQ(TempDir::Read(Tns("oracle/ora0")), after);
    EXPECT_EQ(TempDir::Read(Tns("app/db11")), entry);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("成功创建 C:\\oracle\\ora0 Oracle服务名：SALES"));
    EXPECT_EQ(log.lines()[0].text1, "C:\\oracle\\ora0\\network\\admin\\tnsnames.ora");
    // Once more: the old entry runs to the first blank line after its name,
    // which is now the one after the entry itself, so one more blank line.
    EXPECT_EQ(ruqo_ConfigOracleServerName(line), 2);
    EXPECT_EQ(TempDir::Read(Tns("oracle/ora0")), "# names\r\n" + entry + "\r\n\r\n\r\nOTHER =\r\n  (x)\r\n");
    // Without a computer the host is LOCALHOST; a new name is appended.
    EXPECT_EQ(ruqo_ConfigOracleServerName("DATABASE=x;SERVER=new"), 2);
    EXPECT_EQ(TempDir::Read(Tns("app/db11")), entry + host::TnsEntry("NEW", "LOCALHOST", "x"));
}

TEST_F(OdbcOracleTest, FailuresAreLoggedWithTheLastReason) {
    const char* line = "COMPUTER=h;DATABASE=d;SERVER=s";
    EXPECT_EQ(ruqo_ConfigOracleServerName(line), 0);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("未能创建Oracle服务名"));
    EXPECT_EQ(Gbk(log.lines()[0].text1), Gbk("缺ORACLE注册项"));
    EXPECT_EQ(log.lines()[0].text2, line);
    EXPECT_EQ(log.lines()[0].mode, 2);

    WriteRegistry();  // no tnsnames.ora anywhere; the last home tried has no ORACLE_HOME
    log.Clear();
    EXPECT_EQ(ruqo_ConfigOracleServerName(line), 0);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(Gbk(log.lines()[0].text1), Gbk("不能获得注册参数ORACLE_HOME"));

    log.Clear();
    EXPECT_EQ(ruqo_ConfigDataSource("add=oracle;DSN=O;COMPUTER=H;SERVER=S", 0), 0);
    ASSERT_GE(log.lines().size(), 2u);
    EXPECT_EQ(Gbk(log.lines()[0].message),
              Gbk("创建Oracle服务的 DSN 配置不全：不能存在 COMPUTER 配置项而缺少 DATABASE 配置项"));
    EXPECT_EQ(log.lines()[0].mode, 1);
    EXPECT_EQ(Gbk(log.lines()[1].message), Gbk("?oracle 不能模糊匹配上任何ODBC驱动"));
}

}  // namespace
}  // namespace qotool::test
