// ODBC through unixODBC, loaded at run time: the installer library
// (libodbcinst.so.2) for data sources and drivers, the driver manager
// (libodbc.so.2) for connections. Without unixODBC every call fails with a
// reason and nothing else happens.
//
// Texts are passed to unixODBC as they are (GBK stays GBK). Installer calls
// use the data-source files unixODBC reads ($ODBCINI, $ODBCSYSINI, $HOME).
#ifndef QOTOOL_PLATFORM_ODBC_H
#define QOTOOL_PLATFORM_ODBC_H

#include <string>
#include <vector>

namespace qotool::platform {

// Installer requests, as the system numbers them.
enum OdbcRequest : int {
    kOdbcAddDsn = 1,
    kOdbcConfigDsn = 2,
    kOdbcRemoveDsn = 3,
    kOdbcAddSysDsn = 4,
    kOdbcConfigSysDsn = 5,
    kOdbcRemoveSysDsn = 6,
};

// The installed drivers, in the order of the driver list (odbcinst.ini);
// empty without unixODBC.
std::vector<std::string> InstalledOdbcDrivers();

// Runs an installer request for driver with attributes (KEY=value entries,
// each ending with a zero byte, the list with one more). A driver with a
// setup routine (its "Setup" library exporting ConfigDSN) gets the request
// through SQLConfigDataSource; for any other installed driver the data
// source section is written or removed here over the installer API (add
// writes the DSN and every attribute, configure needs an existing DSN,
// remove needs one too). False with the reason in error.
bool ConfigOdbcDataSource(int request, const std::string& driver, const std::string& attributes, std::string& error);

// One connection through the driver manager.
class OdbcConnection {
public:
    OdbcConnection() = default;
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // SQLDriverConnect with the connection string; false with the
    // diagnostics in error.
    bool Open(const std::string& connection, std::string& error);
    // SQLExecDirect of one statement. A table named by a drive path
    // ("C:\NAME.dbf", outside literals) is passed as a quoted identifier:
    // only file-based xBase drivers take paths as table names.
    bool Execute(const std::string& statement, std::string& error);
    // Runs a query; rows of column texts (a NULL is "").
    bool Query(const std::string& statement, std::vector<std::vector<std::string>>& rows, std::string& error);
    void Close();
    bool IsOpen() const { return connection_ != nullptr; }

private:
    void* environment_ = nullptr;
    void* connection_ = nullptr;
};

// The statement as Execute passes it on.
std::string QuoteDrivePathTables(const std::string& statement);

// Test seam: the library names to load (null: the usual ones). Takes effect
// for libraries not loaded yet; a failed load is tried again on the next
// call.
void SetOdbcLibrariesForTest(const char* installer, const char* driverManager);

}  // namespace qotool::platform

#endif
