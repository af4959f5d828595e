#include "host/sql_database.h"

#include <atomic>

namespace qotool::host {

namespace {

// Without a database connection layer every opening fails.
class NoDatabase final : public SqlDatabase {
public:
    bool Open(const std::string&, std::string& error) override {
        error = "no database connection";
        return false;
    }
    bool Execute(const std::string&, std::string& error) override {
        error = "no database connection";
        return false;
    }
    void Close() override {}
};

std::atomic<SqlDatabase*> g_installed{nullptr};

}  // namespace

SqlDatabase& ExportDatabase() {
    static NoDatabase* none = new NoDatabase;
    if (SqlDatabase* installed = g_installed.load()) return *installed;
    return *none;
}

SqlDatabase* SetExportDatabaseForTest(SqlDatabase* database) { return g_installed.exchange(database); }

}  // namespace qotool::host
