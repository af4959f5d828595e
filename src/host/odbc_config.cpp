#include "host/odbc_config.h"

#include <strings.h>

#include <deque>
#include <vector>

#include "host/host_log.h"
#include "platform/file_io.h"
#include "platform/odbc.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "qotool/host.h"
#include "qotool/textcut.h"
#include "qotool/textutil.h"
#include "textutil/gbk_scan.h"

namespace qotool::host {

namespace {

constexpr size_t kHeadLength = 127;  // ACTION=DRIVERS is read from at most this
constexpr size_t kAttributeLength = 400;
constexpr char kDmDriver[] = "DM ODBC DRIVER";  // takes the attribute list as written
constexpr char kSkippedDriver[] = "Microsoft ODBC for Oracle";
constexpr char kNoFuzzyMatch[] = " 不能模糊匹配上任何ODBC驱动";
constexpr char kOutcome[] = "%s数据源%s,驱动程序和语法：";
constexpr char kSuccess[] = "成功";
constexpr char kFailure[] = "失败";

constexpr char kIncomplete[] = "创建Oracle服务的 DSN 配置不全：不能存在 COMPUTER 配置项而缺少 DATABASE 配置项";
constexpr char kNoOracleKey[] = "缺ORACLE注册项";
constexpr char kNoLastHome[] = "缺LAST_HOME参数注册";
constexpr char kCannotOpenKey[] = "不能获得注册";
constexpr char kNoOracleHome[] = "不能获得注册参数ORACLE_HOME";
constexpr char kEmptyOracleHome[] = "缺ORACLE_HOME_NAME参数注册";
constexpr char kCannotOpenFile[] = "不能打开ORACLE配置文件";
constexpr char kNotCreated[] = "未能创建Oracle服务名";
constexpr char kCreated[] = "成功创建 %s Oracle服务名：%s";
constexpr char kOracleKey[] = "SOFTWARE\\ORACLE";
constexpr char kAllHomesKey[] = "SOFTWARE\\ORACLE\\ALL_HOMES";
constexpr char kTnsNames[] = "\\network\\admin\\tnsnames.ora";

const struct {
    const char* alias;
    const char* driver;
} kAliases[] = {
    {"vfp", "Microsoft Visual FoxPro Driver"},
    {"fxp", "Microsoft FoxPro Driver (*.dbf)"},
    {"sql", "SQL server"},
    {"oracle", "?oracle"},
    {"access", "Microsoft Access Driver (*.mdb)"},
    {"excel", "Microsoft Excel Driver (*.xls)"},
    {"anywhere", "Sybase SQL Anywhere 5.0"},
    {"dbf", "Microsoft dBase Driver (*.dbf)"},
    {"dm", "DM ODBC DRIVER"},
    {"db2", "IBM DB2 ODBC DRIVER"},
};

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return strncasecmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); i += i < text.size() ? textutil::CharLength(text, i) : 1) {
        if (i < text.size() && text[i] != separator) continue;
        parts.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    return parts;
}

// The installed drivers that match "*" + pattern + "*", in list order.
std::vector<std::string> FuzzyDrivers(const std::string& pattern) {
    const std::string wildcard = "*" + pattern + "*";
    std::vector<std::string> found;
    for (const std::string& name : platform::InstalledOdbcDrivers()) {
        if (name == kSkippedDriver) continue;
        if (ruqo_StrMatch(wildcard.c_str(), name.c_str(), 1) >= 0) found.push_back(name);
    }
    return found;
}

// Installer requests of an action: the removal that "new" makes first (0:
// none) and the request itself (0: the action makes none).
void Requests(const std::string& action, bool system, int& first, int& request) {
    const int shift = system ? 3 : 0;
    first = request = 0;
    if (strcasecmp(action.c_str(), "add") == 0) request = platform::kOdbcAddDsn + shift;
    if (strcasecmp(action.c_str(), "modify") == 0) request = platform::kOdbcConfigDsn + shift;
    if (strcasecmp(action.c_str(), "remove") == 0) request = platform::kOdbcRemoveDsn + shift;
    if (strcasecmp(action.c_str(), "new") == 0) {
        first = platform::kOdbcRemoveDsn + shift;
        request = platform::kOdbcAddDsn + shift;
    }
}

std::string RegistryText(const char* key, const char* name, bool& found) {
    platform::RegistryValue value;
    found = platform::RegistryQueryValue(platform::kLocalMachine, key, name, value) == platform::RegistryStatus::kOk;
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// Writes the entry into one home's tnsnames.ora; false with the reason.
bool WriteIntoHome(const std::string& home, const std::string& name, const std::string& entry, std::string& reason) {
    const std::string path = home + kTnsNames;
    std::string content;
    FILE* file = platform::OpenFile(path.c_str(), "r+b");
    if (!file) {
        reason = kCannotOpenFile + path;
        return false;
    }
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
    fclose(file);
    const std::string marker = "\r\n" + name + " =";
    const size_t at = textutil::FindText(content, marker);
    std::string updated;
    if (at == textutil::kNotFound) {
        updated = content + entry;
    } else {
        const size_t blank = textutil::FindText(content, "\r\n\r\n", at + marker.size());
        updated =
            content.substr(0, at) + entry + (blank == textutil::kNotFound ? std::string() : content.substr(blank));
    }
    file = platform::OpenFile(path.c_str(), "wb");
    const bool written = file && fwrite(updated.data(), 1, updated.size(), file) == updated.size();
    if (file) fclose(file);
    if (!written) {
        reason = kCannotOpenFile + path;
        return false;
    }
    CString message;
    message.Format(kCreated, home.c_str(), name.c_str());
    Log(kLogMainResult, message, path.c_str());
    return true;
}

bool WriteIntoHomeKey(const std::string& key, const std::string& name, const std::string& entry, std::string& reason) {
    if (!platform::RegistryKeyExists(platform::kLocalMachine, key)) {
        reason = kCannotOpenKey + key;
        return false;
    }
    bool found = false;
    const std::string home = RegistryText(key.c_str(), "ORACLE_HOME", found);
    if (!found) {
        reason = kNoOracleHome;
        return false;
    }
    if (home.empty()) {
        reason = kEmptyOracleHome;
        return false;
    }
    return WriteIntoHome(home, name, entry, reason);
}

int ConfigOracle(const char* specification) {
    const CString computerText = ruqo_MatchCut(specification, "COMPUTER=", ";", "");
    const CString database = ruqo_MatchCut(specification, "DATABASE=", ";", "");
    const CString server = ruqo_MatchCut(specification, "SERVER=", ";", "");
    if (!computerText.IsEmpty() && database.IsEmpty()) {
        Log(kLogError, kIncomplete, specification);
        return 0;
    }
    const std::string computer = computerText.IsEmpty() ? std::string("LOCALHOST") : std::string(computerText.c_str());
    const std::string name = platform::UpperGbk(server.c_str());
    const std::string entry = TnsEntry(name, computer, database.c_str());

    int written = 0;
    std::string reason = kNoOracleKey;
    // Older layout: homes numbered from LAST_HOME down to 0.
    if (platform::RegistryKeyExists(platform::kLocalMachine, kAllHomesKey)) {
        bool found = false;
        const std::string last = RegistryText(kAllHomesKey, "LAST_HOME", found);
        if (!found || last.empty()) {
            reason = kNoLastHome;
        } else {
            for (char digit = last[0]; digit >= '0' && digit <= '9'; --digit)
                if (WriteIntoHomeKey(std::string(kOracleKey) + "\\HOME" + digit, name, entry, reason)) ++written;
        }
    }
    // Newer layout: one KEY_ subkey per home.
    std::vector<std::string> subkeys;
    if (platform::RegistrySubkeys(platform::kLocalMachine, kOracleKey, subkeys)) {
        for (const std::string& subkey : subkeys)
            if (StartsWithNoCase(subkey, "KEY_") &&
                WriteIntoHomeKey(std::string(kOracleKey) + "\\" + subkey, name, entry, reason))
                ++written;
    } else {
        reason = kNoOracleKey;
    }
    if (written == 0) Log(kLogWarning, kNotCreated, reason.c_str(), specification);
    return written;
}

int ConfigDataSource(const char* specification, intptr_t reserved) {
    const std::string spec = specification;
    const size_t semicolon = spec.find(';');
    if (semicolon == std::string::npos) return 0;
    const std::string head = spec.substr(0, std::min(semicolon, kHeadLength));
    const size_t equals = head.find('=');
    if (equals == std::string::npos) return 0;
    std::string attributes = spec.substr(semicolon + 1, kAttributeLength);

    if (ruqo_FindNoCase(specification, "COMPUTER=") >= 0) ConfigOracle(specification);

    const std::string written = head.substr(0, equals);
    std::string action = written;
    const bool quiet = !action.empty() && action[0] == '?';
    if (quiet) action.erase(0, 1);
    const bool system = StartsWithNoCase(action, "sys_");
    if (system) action.erase(0, 4);
    const int failureMode = quiet ? kLogRoute : kLogError;
    int first = 0, request = 0;
    Requests(action, system, first, request);

    std::deque<std::string> names;
    for (const std::string& name : Split(head.substr(equals + 1), '|')) names.push_back(name);
    std::string driver;
    bool success = false;
    while (!names.empty() && !success) {
        std::string name = DriverOfAlias(names.front());
        names.pop_front();
        if (!name.empty() && name[0] == '?') {
            const std::vector<std::string> found = FuzzyDrivers(name.substr(1));
            if (found.empty()) {
                Log(failureMode, (name + kNoFuzzyMatch).c_str(), specification, nullptr, reserved);
                continue;
            }
            for (size_t i = found.size(); i-- > 1;) names.push_front(found[i]);
            name = found[0];
        }
        driver = name;
        std::string list = attributes;
        if (driver != kDmDriver)
            for (char& c : list)
                if (c == ';') c = '\0';
        std::string error;
        if (first) platform::ConfigOdbcDataSource(first, driver, list, error);
        if (request) success = platform::ConfigOdbcDataSource(request, driver, list, error);
    }
    CString message;
    message.Format(kOutcome, written.c_str(), success ? kSuccess : kFailure);
    Log(success || quiet ? kLogRoute : kLogError, message, driver.c_str(), specification, reserved);
    return success ? 1 : 0;
}

}  // namespace

std::string DriverOfAlias(const std::string& name) {
    for (const auto& alias : kAliases)
        if (strcasecmp(name.c_str(), alias.alias) == 0) return alias.driver;
    return name;
}

std::string TnsEntry(const std::string& name, const std::string& host, const std::string& service) {
    return "\r\n" + name +
           " =\r\n  (DESCRIPTION =\r\n    (ADDRESS_LIST =\r\n      (ADDRESS = (PROTOCOL = TCP)(HOST =" + host +
           ")(PORT = 1521))\r\n    )\r\n    (CONNECT_DATA = (SERVICE_NAME = " + service + "))\r\n  )\r\n";
}

}  // namespace qotool::host

extern "C" QO_API int ruqo_ConfigDataSource(const char* specification, intptr_t reserved) {
    if (!specification) return 0;
    try {
        return qotool::host::ConfigDataSource(specification, reserved);
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API int ruqo_ConfigOracleServerName(const char* specification) {
    if (!specification) return 0;
    try {
        return qotool::host::ConfigOracle(specification);
    } catch (...) {
        return 0;
    }
}
