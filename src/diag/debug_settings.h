// The debugger's settings file: QolDebug.ini in the library's directory,
// section "QOL调试器", one key per control (its identifier in lower-case
// hexadecimal): "%d" for check states, the text of edit fields, and
// "尺寸位置" for the window rectangle ("%d,%d,%d,%d" or "*" maximized).
#ifndef QOTOOL_DIAG_DEBUG_SETTINGS_H
#define QOTOOL_DIAG_DEBUG_SETTINGS_H

#include <string>

#include "diag/debug_view.h"

namespace qotool::diag {

extern const char kDebugSection[];  // "QOL调试器"
extern const char kDebugRectKey[];  // "尺寸位置"

// The file: the one a host or test named, else $QO_DEBUG_SETTINGS, else
// QolDebug.ini in the library's directory.
std::string DebugSettingsPath();
void SetDebugSettingsPath(const char* path);  // null: the default
// Reads the settings (defaults for missing or unreadable keys).
DebugSettings LoadDebugSettings(const std::string& path);
// Writes every key; a minimized window (hasRect false, not maximized)
// leaves "尺寸位置" as it was.
bool SaveDebugSettings(const std::string& path, const DebugSettings& settings);

}  // namespace qotool::diag

#endif
