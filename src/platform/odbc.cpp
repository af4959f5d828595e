#include "platform/odbc.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace qotool::platform {

namespace {

constexpr char kInstallerLibrary[] = "libodbcinst.so.2";
constexpr char kDriverManagerLibrary[] = "libodbc.so.2";
constexpr char kOdbcIni[] = "odbc.ini";
constexpr char kOdbcInstIni[] = "odbcinst.ini";

struct Installer {
    decltype(&::SQLConfigDataSource) configDataSource = nullptr;
    decltype(&::SQLGetInstalledDrivers) getInstalledDrivers = nullptr;
    decltype(&::SQLGetPrivateProfileString) getProfileString = nullptr;
    decltype(&::SQLWritePrivateProfileString) writeProfileString = nullptr;
    decltype(&::SQLWriteDSNToIni) writeDsn = nullptr;
    decltype(&::SQLRemoveDSNFromIni) removeDsn = nullptr;
    decltype(&::SQLGetConfigMode) getConfigMode = nullptr;
    decltype(&::SQLSetConfigMode) setConfigMode = nullptr;
    decltype(&::SQLInstallerError) installerError = nullptr;
};

struct DriverManager {
    decltype(&::SQLAllocHandle) allocHandle = nullptr;
    decltype(&::SQLFreeHandle) freeHandle = nullptr;
    decltype(&::SQLSetEnvAttr) setEnvAttr = nullptr;
    decltype(&::SQLDriverConnect) driverConnect = nullptr;
    decltype(&::SQLDisconnect) disconnect = nullptr;
    decltype(&::SQLExecDirect) execDirect = nullptr;
    decltype(&::SQLGetDiagRec) getDiagRec = nullptr;
    decltype(&::SQLNumResultCols) numResultCols = nullptr;
    decltype(&::SQLFetch) fetch = nullptr;
    decltype(&::SQLGetData) getData = nullptr;
};

// Loaded once and kept (never unloaded: connections may outlive callers).
struct Libraries {
    std::mutex mutex;
    std::string installerName = kInstallerLibrary, driverManagerName = kDriverManagerLibrary;
    Installer* installer = nullptr;
    DriverManager* driverManager = nullptr;
    // Tables loaded under earlier names (SetOdbcLibrariesForTest), kept: a
    // connection may still hold one.
    std::vector<std::unique_ptr<Installer>> oldInstallers;
    std::vector<std::unique_ptr<DriverManager>> oldDriverManagers;
};

Libraries& Loaded() {
    static Libraries* libraries = new Libraries;
    return *libraries;
}

template <typename T>
bool Bind(void* library, const char* name, T& function, std::string& error) {
    function = reinterpret_cast<T>(dlsym(library, name));
    if (!function && error.empty()) error = std::string("unixODBC lacks ") + name;
    return function != nullptr;
}

const Installer* GetInstaller(std::string& error) {
    Libraries& l = Loaded();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.installer) return l.installer;
    void* library = dlopen(l.installerName.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        const char* reason = dlerror();
        error = "unixODBC installer not available: " + std::string(reason ? reason : l.installerName);
        return nullptr;
    }
    auto* in = new Installer;
    bool ok = Bind(library, "SQLConfigDataSource", in->configDataSource, error);
    ok = Bind(library, "SQLGetInstalledDrivers", in->getInstalledDrivers, error) && ok;
    ok = Bind(library, "SQLGetPrivateProfileString", in->getProfileString, error) && ok;
    ok = Bind(library, "SQLWritePrivateProfileString", in->writeProfileString, error) && ok;
    ok = Bind(library, "SQLWriteDSNToIni", in->writeDsn, error) && ok;
    ok = Bind(library, "SQLRemoveDSNFromIni", in->removeDsn, error) && ok;
    ok = Bind(library, "SQLGetConfigMode", in->getConfigMode, error) && ok;
    ok = Bind(library, "SQLSetConfigMode", in->setConfigMode, error) && ok;
    ok = Bind(library, "SQLInstallerError", in->installerError, error) && ok;
    if (!ok) {
        delete in;
        return nullptr;
    }
    return l.installer = in;
}

const DriverManager* GetDriverManager(std::string& error) {
    Libraries& l = Loaded();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.driverManager) return l.driverManager;
    void* library = dlopen(l.driverManagerName.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        const char* reason = dlerror();
        error = "unixODBC driver manager not available: " + std::string(reason ? reason : l.driverManagerName);
        return nullptr;
    }
    auto* dm = new DriverManager;
    bool ok = Bind(library, "SQLAllocHandle", dm->allocHandle, error);
    ok = Bind(library, "SQLFreeHandle", dm->freeHandle, error) && ok;
    ok = Bind(library, "SQLSetEnvAttr", dm->setEnvAttr, error) && ok;
    ok = Bind(library, "SQLDriverConnect", dm->driverConnect, error) && ok;
    ok = Bind(library, "SQLDisconnect", dm->disconnect, error) && ok;
    ok = Bind(library, "SQLExecDirect", dm->execDirect, error) && ok;
    ok = Bind(library, "SQLGetDiagRec", dm->getDiagRec, error) && ok;
    ok = Bind(library, "SQLNumResultCols", dm->numResultCols, error) && ok;
    ok = Bind(library, "SQLFetch", dm->fetch, error) && ok;
    ok = Bind(library, "SQLGetData", dm->getData, error) && ok;
    if (!ok) {
        delete dm;
        return nullptr;
    }
    return l.driverManager = dm;
}

// The installer's own messages.
std::string InstallerErrors(const Installer& in) {
    std::string text;
    for (WORD i = 1; i <= 8; ++i) {
        DWORD code = 0;
        char message[SQL_MAX_MESSAGE_LENGTH] = {};
        WORD length = 0;
        const RETCODE rc = in.installerError(i, &code, message, sizeof message, &length);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
        if (!text.empty()) text += "; ";
        text += message;
    }
    return text;
}

std::string ProfileString(const Installer& in, const std::string& section, const char* key, const char* file) {
    char value[1024] = {};
    const int n = in.getProfileString(section.c_str(), key, "", value, sizeof value, file);
    return n > 0 ? std::string(value) : std::string();
}

// Whether the driver's "Setup" library exports ConfigDSN.
bool HasSetupRoutine(const Installer& in, const std::string& driver) {
    const std::string setup = ProfileString(in, driver, "Setup", kOdbcInstIni);
    if (setup.empty()) return false;
    void* library = dlopen(setup.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) return false;
    const bool has = dlsym(library, "ConfigDSN") != nullptr;
    dlclose(library);
    return has;
}

std::vector<std::pair<std::string, std::string>> Attributes(const std::string& attributes) {
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t start = 0; start < attributes.size();) {
        size_t end = attributes.find('\0', start);
        if (end == std::string::npos) end = attributes.size();
        const std::string entry = attributes.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) break;
        const size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        out.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
    }
    return out;
}

// The installer keeps what it read until its next write; removing a data
// source is no write to it, so a write that changes nothing (removing the
// section once more) makes it forget.
void ForgetRemovedDataSource(const Installer& in, bool system, const std::string& dsn) {
    UWORD mode = ODBC_BOTH_DSN;
    in.getConfigMode(&mode);
    in.setConfigMode(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
    in.writeProfileString(dsn.c_str(), nullptr, nullptr, kOdbcIni);
    in.setConfigMode(mode);
}

std::string DsnOf(const std::vector<std::pair<std::string, std::string>>& entries) {
    for (const auto& entry : entries)
        if (strcasecmp(entry.first.c_str(), "DSN") == 0) return entry.second;
    return std::string();
}

// Our configuration for drivers without a setup routine: the data source
// section written or removed over the installer API.
bool GenericConfig(const Installer& in, int request, const std::string& driver, const std::string& attributes,
                   std::string& error) {
    const bool system = request >= kOdbcAddSysDsn;
    const int action = system ? request - 3 : request;
    const auto entries = Attributes(attributes);
    const std::string dsn = DsnOf(entries);
    if (dsn.empty()) {
        error = "no DSN attribute";
        return false;
    }
    std::string installed;  // as the driver list spells it
    for (const std::string& name : InstalledOdbcDrivers())
        if (installed.empty() && strcasecmp(name.c_str(), driver.c_str()) == 0) installed = name;
    if (installed.empty()) {
        error = "driver not installed: " + driver;
        return false;
    }
    UWORD mode = ODBC_BOTH_DSN;
    in.getConfigMode(&mode);
    in.setConfigMode(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
    const bool exists = !ProfileString(in, dsn, "Driver", kOdbcIni).empty();
    bool ok = true;
    if (action == kOdbcAddDsn) {
        ok = in.writeDsn(dsn.c_str(), installed.c_str());
    } else if (!exists) {
        error = "data source not found: " + dsn;
        ok = false;
    } else if (action == kOdbcRemoveDsn) {
        ok = in.removeDsn(dsn.c_str());
        if (ok) ForgetRemovedDataSource(in, system, dsn);
    }
    if (ok && action != kOdbcRemoveDsn) {
        for (const auto& entry : entries) {
            if (strcasecmp(entry.first.c_str(), "DSN") == 0 || strcasecmp(entry.first.c_str(), "Driver") == 0) continue;
            ok = in.writeProfileString(dsn.c_str(), entry.first.c_str(), entry.second.c_str(), kOdbcIni) && ok;
        }
    }
    if (!ok && error.empty()) error = InstallerErrors(in);
    in.setConfigMode(mode);
    return ok;
}

std::string Diagnostics(const DriverManager& dm, SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT i = 1; i <= 8; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR message[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN rc = dm.getDiagRec(type, handle, i, state, &native, message, sizeof message, &length);
        if (!SQL_SUCCEEDED(rc)) break;
        if (!text.empty()) text += "; ";
        text += std::string((const char*)state) + " " + (const char*)message;
    }
    return text.empty() ? std::string("ODBC call failed") : text;
}

bool IsWordByte(char c) { return isalnum((unsigned char)c) || c == '_' || (unsigned char)c >= 0x80; }

}  // namespace

bool ListInstalledOdbcDrivers(std::vector<std::string>& names) {
    std::string error;
    names.clear();
    const Installer* in = GetInstaller(error);
    if (!in) return false;
    std::string buffer(65536, '\0');
    if (!in->getInstalledDrivers(buffer.data(), (WORD)(buffer.size() - 1), nullptr)) return true;
    for (size_t start = 0; start < buffer.size() && buffer[start];) {
        const size_t end = buffer.find('\0', start);
        names.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::vector<std::string> InstalledOdbcDrivers() {
    std::vector<std::string> names;
    ListInstalledOdbcDrivers(names);
    return names;
}

bool ConfigOdbcDataSource(int request, const std::string& driver, const std::string& attributes, std::string& error) {
    error.clear();
    const Installer* in = GetInstaller(error);
    if (!in) return false;
    if (!HasSetupRoutine(*in, driver)) return GenericConfig(*in, request, driver, attributes, error);
    std::string list = attributes;
    list.append(2, '\0');  // a list always ends with an empty entry
    if (in->configDataSource(nullptr, (WORD)request, driver.c_str(), list.c_str())) {
        if (request == kOdbcRemoveDsn || request == kOdbcRemoveSysDsn)
            ForgetRemovedDataSource(*in, request == kOdbcRemoveSysDsn, DsnOf(Attributes(attributes)));
        return true;
    }
    error = InstallerErrors(*in);
    if (error.empty()) error = "the driver's setup refused the request";
    return false;
}

std::string QuoteDrivePathTables(const std::string& statement) {
    std::string out;
    out.reserve(statement.size() + 8);
    for (size_t i = 0; i < statement.size();) {
        const char c = statement[i];
        if (c == '\'' || c == '"') {  // a literal, doubled quotes inside
            size_t end = i + 1;
            while (end < statement.size()) {
                if (statement[end] == c && !(end + 1 < statement.size() && statement[end + 1] == c)) break;
                end += statement[end] == c ? 2 : 1;
            }
            end = std::min(end + 1, statement.size());
            out.append(statement, i, end - i);
            i = end;
            continue;
        }
        if (isalpha((unsigned char)c) && i + 2 < statement.size() && statement[i + 1] == ':' &&
            statement[i + 2] == '\\' && (i == 0 || !IsWordByte(statement[i - 1]))) {
            size_t end = i;
            while (end < statement.size() && !strchr(" \t\r\n(),;", statement[end])) end += 1;
            out += '"';
            out.append(statement, i, end - i);
            out += '"';
            i = end;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

OdbcConnection::~OdbcConnection() { Close(); }

bool OdbcConnection::Open(const std::string& connection, std::string& error) {
    Close();
    const DriverManager* dm = GetDriverManager(error);
    if (!dm) return false;
    SQLHANDLE env = nullptr, dbc = nullptr;
    if (!SQL_SUCCEEDED(dm->allocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        error = "cannot allocate an ODBC environment";
        return false;
    }
    dm->setEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
    if (!SQL_SUCCEEDED(dm->allocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        error = Diagnostics(*dm, SQL_HANDLE_ENV, env);
        dm->freeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = dm->driverConnect(dbc, nullptr, (SQLCHAR*)connection.c_str(), SQL_NTS, out, sizeof out,
                                           &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        error = Diagnostics(*dm, SQL_HANDLE_DBC, dbc);
        dm->freeHandle(SQL_HANDLE_DBC, dbc);
        dm->freeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    environment_ = env;
    connection_ = dbc;
    return true;
}

bool OdbcConnection::Query(const std::string& statement, std::vector<std::vector<std::string>>& rows,
                           std::string& error) {
    rows.clear();
    const DriverManager* dm = GetDriverManager(error);
    if (!dm || !connection_) {
        if (error.empty()) error = "not connected";
        return false;
    }
    SQLHANDLE stmt = nullptr;
    if (!SQL_SUCCEEDED(dm->allocHandle(SQL_HANDLE_STMT, connection_, &stmt))) {
        error = Diagnostics(*dm, SQL_HANDLE_DBC, connection_);
        return false;
    }
    const std::string sql = QuoteDrivePathTables(statement);
    SQLRETURN rc = dm->execDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    const bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    if (!ok) error = Diagnostics(*dm, SQL_HANDLE_STMT, stmt);
    SQLSMALLINT columns = 0;
    if (ok && SQL_SUCCEEDED(dm->numResultCols(stmt, &columns)) && columns > 0) {
        while (SQL_SUCCEEDED(dm->fetch(stmt))) {
            std::vector<std::string> row;
            for (SQLUSMALLINT c = 1; c <= (SQLUSMALLINT)columns; ++c) {
                std::string value;
                char buffer[512];
                SQLLEN indicator = 0;
                while (SQL_SUCCEEDED(rc = dm->getData(stmt, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator))) {
                    if (indicator == SQL_NULL_DATA) break;
                    const size_t got = indicator == SQL_NO_TOTAL || indicator >= (SQLLEN)sizeof buffer
                                           ? sizeof buffer - 1
                                           : (size_t)indicator;
                    value.append(buffer, got);
                    if (rc == SQL_SUCCESS) break;
                }
                row.push_back(value);
            }
            rows.push_back(std::move(row));
        }
    }
    dm->freeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
}

bool OdbcConnection::Execute(const std::string& statement, std::string& error) {
    std::vector<std::vector<std::string>> ignored;
    return Query(statement, ignored, error);
}

void OdbcConnection::Close() {
    if (!connection_) return;
    std::string error;
    if (const DriverManager* dm = GetDriverManager(error)) {
        dm->disconnect(connection_);
        dm->freeHandle(SQL_HANDLE_DBC, connection_);
        dm->freeHandle(SQL_HANDLE_ENV, environment_);
    }
    connection_ = environment_ = nullptr;
}

void SetOdbcLibrariesForTest(const char* installer, const char* driverManager) {
    Libraries& l = Loaded();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.installerName = installer ? installer : kInstallerLibrary;
    l.driverManagerName = driverManager ? driverManager : kDriverManagerLibrary;
    if (l.installer) l.oldInstallers.emplace_back(l.installer);
    if (l.driverManager) l.oldDriverManagers.emplace_back(l.driverManager);
    l.installer = nullptr;  // loaded again with the new names
    l.driverManager = nullptr;
}

}  // namespace qotool::platform
