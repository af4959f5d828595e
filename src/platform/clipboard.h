// The text clipboard. The host's clipboard callbacks (ui_callbacks.h) come
// first; then an installed provider; without either the
// clipboard of the desktop session is used through wl-copy/wl-paste
// (Wayland) or xclip/xsel (X11) when a display is named and the tool
// exists, else a clipboard inside this process. Texts are GBK here and
// UTF-8 on the desktop's clipboard.
#ifndef QOTOOL_PLATFORM_CLIPBOARD_H
#define QOTOOL_PLATFORM_CLIPBOARD_H

#include <string>
#include <string_view>

namespace qotool::platform {

struct ClipboardProvider {
    // The clipboard's text ("" when it holds none); false when it cannot be
    // read.
    bool (*read)(std::string* text);
    // Puts the text on the clipboard; false when it cannot be written.
    bool (*write)(std::string_view text);
};

bool ReadClipboardText(std::string& text);
bool WriteClipboardText(std::string_view text);

// Installs the provider (null: the default); returns the previous one.
const ClipboardProvider* SetClipboardProvider(const ClipboardProvider* provider);

}  // namespace qotool::platform

#endif
