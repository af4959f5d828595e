// Key state: whether a key of the keyboard is held down. The library has no
// keyboard of its own; a host (or a test) installs a provider. Without one
// every key reads as up (state 0). Callers poll; nothing is queued.
#ifndef QOTOOL_PLATFORM_KEYS_H
#define QOTOOL_PLATFORM_KEYS_H

namespace qotool::platform {

// Bits of a key state: kKeyDown while the key is held, kKeyPressed when it
// went down since the previous query. Keys are numbered by their
// virtual-key codes 0-255 (16 is Shift, 17 Ctrl, 27 Esc, ...).
enum : int { kKeyPressed = 0x0001, kKeyDown = 0x8000 };

// A provider answers the state of one key; it may be called from any thread.
using KeyStateProvider = int (*)(int virtualKey);

// The state of the key, or 0 without a provider (or for a code outside 0-255).
int KeyState(int virtualKey);
inline bool KeyIsDown(int virtualKey) { return (KeyState(virtualKey) & kKeyDown) != 0; }

// Installs the provider; null removes it. Returns the previous one.
KeyStateProvider SetKeyStateProvider(KeyStateProvider provider);

}  // namespace qotool::platform

#endif
