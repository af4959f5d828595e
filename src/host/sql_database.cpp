#include "host/sql_database.h"

#include <atomic>

#include "platform/odbc.h"
#include "qotool/host.h"

namespace qotool::host {

namespace {

class OdbcDatabase final : public SqlDatabase {
public:
    bool CreateDataSource(const std::string& dataSource) override {
        return ruqo_ConfigDataSource(dataSource.c_str(), 0) == 1;
    }
    bool Open(const std::string& connection, std::string& error) override { return odbc_.Open(connection, error); }
    bool Execute(const std::string& statement, std::string& error) override { return odbc_.Execute(statement, error); }
    void Close() override { odbc_.Close(); }

private:
    platform::OdbcConnection odbc_;
};

std::atomic<SqlDatabase*> g_installed{nullptr};

}  // namespace

SqlDatabase& ExportDatabase() {
    static OdbcDatabase* odbc = new OdbcDatabase;
    if (SqlDatabase* installed = g_installed.load()) return *installed;
    return *odbc;
}

SqlDatabase* SetExportDatabaseForTest(SqlDatabase* database) { return g_installed.exchange(database); }

}  // namespace qotool::host
