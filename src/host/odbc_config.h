// ODBC data sources and Oracle net service names configured from one line
// of text (ruqo_ConfigDataSource, ruqo_ConfigOracleServerName in
// qotool/host.h). Drivers are named by alias, full name or "?pattern"
// among the installed drivers; Oracle homes come from the registry store.
#ifndef QOTOOL_HOST_ODBC_CONFIG_H
#define QOTOOL_HOST_ODBC_CONFIG_H

#include <string>

namespace qotool::host {

// The driver name an alias stands for, or the name itself.
std::string DriverOfAlias(const std::string& name);
// The tnsnames.ora entry of a service name (upper case), host and service.
std::string TnsEntry(const std::string& name, const std::string& host, const std::string& service);

}  // namespace qotool::host

#endif
