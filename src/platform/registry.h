// The registry store: a read-only tree of keys and values, loaded from
// registry export files (.reg, "REGEDIT4"; "Windows Registry Editor Version
// 5.00" files in UTF-16 are read too). The files come from $QO_REGISTRY (a
// file, or a folder whose *.reg files load in name order); without it from
// /etc/qotool/*.reg and then $XDG_CONFIG_HOME/qotool/*.reg (default
// ~/.config/qotool/), later files adding to and overriding earlier ones.
//
// Key and value names are GBK and compare without regard to letter case
// (ASCII letters; two-byte characters compare exactly). Key paths separate
// their components with '\'. The store follows its files: a query notices
// when the set of files, or one of them, changed and loads them again.
//
// One key is filled at query time rather than from files:
// HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers holds a text
// value "Installed" named after each driver of unixODBC's installer (loaded
// at run time; without it the key holds only what files give it).
//
// A file with syntax errors is reported once per load through the message
// log (one record naming the file, the first bad line and the number of bad
// lines); every good line of it still loads.
//
// Queries may come from any thread.
#ifndef QOTOOL_PLATFORM_REGISTRY_H
#define QOTOOL_PLATFORM_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qotool::platform {

// The predefined roots, numbered as the system numbers them (0x80000000 +
// n). File texts name them HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER
// (HKCU), HKEY_LOCAL_MACHINE (HKLM), HKEY_USERS (HKU), HKEY_CURRENT_CONFIG
// (HKCC).
enum RegistryRoot : uint32_t {
    kClassesRoot = 0x80000000u,
    kCurrentUser = 0x80000001u,
    kLocalMachine = 0x80000002u,
    kUsers = 0x80000003u,
    kCurrentConfig = 0x80000005u,
};

// Value types.
enum RegistryType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,        // text; data ends with one NUL
    kRegExpandSz = 2,  // text with %VARIABLE% references (not expanded); one NUL
    kRegBinary = 3,    // raw bytes
    kRegDword = 4,     // 4 bytes, little-endian
    kRegMultiSz = 7,   // texts, each ending with NUL, then one more NUL
    kRegQword = 11,    // 8 bytes, little-endian
};

// A value as a program reading the registry receives it: its type and its
// bytes (texts GBK, with their terminating NULs).
struct RegistryValue {
    uint32_t type = kRegNone;
    std::string data;
};

enum class RegistryStatus {
    kOk,
    kNoKey,     // the key does not exist (or the root number is not a root)
    kNoValue,   // the key exists, the value does not
    kMoreData,  // the value is longer than the buffer; type set, data empty
};

// The buffer the system reads a value into.
constexpr size_t kRegistryValueBuffer = 260;

// True when the key exists. An empty path is the root itself.
bool RegistryKeyExists(uint32_t root, std::string_view keyPath);

// Reads a value; an empty name is the key's default value ("@" in files).
// A value longer than bufferBytes gives kMoreData (bufferBytes 0: no limit).
RegistryStatus RegistryQueryValue(uint32_t root, std::string_view keyPath, std::string_view valueName,
                                  RegistryValue& value, size_t bufferBytes = kRegistryValueBuffer);

// The names of the key's subkeys, in the order the files created them;
// false (and no names) when the key does not exist.
bool RegistrySubkeys(uint32_t root, std::string_view keyPath, std::vector<std::string>& names);

// The names of the key's values ("" for the default value), in file order;
// false when the key does not exist.
bool RegistryValueNames(uint32_t root, std::string_view keyPath, std::vector<std::string>& names);

// Loads the files again now (tests; otherwise changes are noticed).
void ReloadRegistry();

// Where load problems go: nowhere until the library's attach points them at
// the message log (a warning). Null drops them again; returns the previous
// reporter (tests put back what was there).
using RegistryReporter = void (*)(const char* message, const char* text1, const char* text2);
RegistryReporter SetRegistryReporter(RegistryReporter reporter);

}  // namespace qotool::platform

#endif
