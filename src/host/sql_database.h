// The database the glossary export writes to: a connection opened with an
// ODBC connection string that executes SQL statements. The default goes
// through unixODBC (platform/odbc.h); tests put a recorder in its place.
#ifndef QOTOOL_HOST_SQL_DATABASE_H
#define QOTOOL_HOST_SQL_DATABASE_H

#include <string>

namespace qotool::host {

class SqlDatabase {
public:
    virtual ~SqlDatabase() = default;
    // Creates or changes the data source from one line of text
    // (ruqo_ConfigDataSource); false when that failed.
    virtual bool CreateDataSource(const std::string& dataSource) = 0;
    // False with the reason in error when the connection cannot be made.
    virtual bool Open(const std::string& connection, std::string& error) = 0;
    // Runs one statement; false with the database's message in error.
    virtual bool Execute(const std::string& statement, std::string& error) = 0;
    virtual void Close() = 0;
};

// The database in use: the installed one, else the ODBC connection.
SqlDatabase& ExportDatabase();
// Test seam: installs a database (not owned); null puts ODBC back. Returns
// the previous one.
SqlDatabase* SetExportDatabaseForTest(SqlDatabase* database);

}  // namespace qotool::host

#endif
