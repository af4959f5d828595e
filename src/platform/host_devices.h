// The clipboard, beep and sound callbacks of the host's callback table
// (qotool/ui_callbacks.h), asked before the library's own providers. Each
// returns false when no table is in use or the host gave no such callback;
// the caller then falls back.
#ifndef QOTOOL_PLATFORM_HOST_DEVICES_H
#define QOTOOL_PLATFORM_HOST_DEVICES_H

#include <string>
#include <string_view>

namespace qotool::platform {

bool HostClipboardRead(std::string& text, bool& ok);
bool HostClipboardWrite(std::string_view text, bool& ok);
bool HostBeep(unsigned frequency, unsigned durationMs, int& result);
bool HostPlaySound(const char* gbkFile, bool& ok);

}  // namespace qotool::platform

#endif
