#include "platform/keys.h"

#include <atomic>

namespace qotool::platform {

namespace {
std::atomic<KeyStateProvider> g_provider{nullptr};
}

int KeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return 0;
    KeyStateProvider provider = g_provider.load(std::memory_order_acquire);
    return provider ? provider(virtualKey) : 0;
}

KeyStateProvider SetKeyStateProvider(KeyStateProvider provider) {
    return g_provider.exchange(provider, std::memory_order_acq_rel);
}

}  // namespace qotool::platform
