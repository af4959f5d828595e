#include "diag/debug_settings.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/ini_file.h"
#include "platform/module_path.h"

namespace qotool::diag {

const char kDebugSection[] = "QOL调试器";
const char kDebugRectKey[] = "尺寸位置";

namespace {

// Control identifiers that key the settings file.
constexpr int kIdBlock = 13040, kIdSentence = 13041, kIdStep = 13042;
constexpr int kIdEntry = 13023, kIdExit = 13024, kIdLower = 13051, kIdLive = 13033, kIdWide = 13047;
constexpr int kIdCondition = 13026, kIdInterval = 13027;
constexpr int kIdWatch[3] = {13032, 13036, 13038};

std::string IdKey(int id) {
    char key[16];
    snprintf(key, sizeof key, "%x", id);
    return key;
}

std::mutex g_pathLock;
std::string* g_pathOverride = nullptr;

}  // namespace

std::string DebugSettingsPath() {
    std::lock_guard<std::mutex> lock(g_pathLock);
    if (g_pathOverride) return *g_pathOverride;
    // QO_DEBUG_SETTINGS names another file (hermetic tests, hosts that keep
    // their settings elsewhere).
    if (const char* path = getenv("QO_DEBUG_SETTINGS"); path && *path) return path;
    return platform::LibraryDirectory() + "QolDebug.ini";
}

void SetDebugSettingsPath(const char* path) {
    std::lock_guard<std::mutex> lock(g_pathLock);
    delete g_pathOverride;
    g_pathOverride = path ? new std::string(path) : nullptr;
}

DebugSettings LoadDebugSettings(const std::string& path) {
    DebugSettings s;
    const char* file = path.c_str();
    auto flag = [&](int id, bool fallback) {
        return platform::ReadProfileInt(file, kDebugSection, IdKey(id), fallback ? 1 : 0) != 0;
    };
    if (flag(kIdStep, false))
        s.level = DebugLevel::kStep;
    else if (flag(kIdBlock, false))
        s.level = DebugLevel::kBlock;
    else
        s.level = DebugLevel::kSentence;
    s.entry = flag(kIdEntry, true);
    s.exit = flag(kIdExit, true);
    s.lower = flag(kIdLower, true);
    s.live = flag(kIdLive, true);
    s.wide = flag(kIdWide, false);
    s.condition = platform::ReadProfileString(file, kDebugSection, IdKey(kIdCondition), "");
    s.interval = platform::ReadProfileString(file, kDebugSection, IdKey(kIdInterval), "200");
    for (int i = 0; i < 3; ++i) s.watch[i] = platform::ReadProfileString(file, kDebugSection, IdKey(kIdWatch[i]), "");
    const std::string rect = platform::ReadProfileString(file, kDebugSection, kDebugRectKey, "");
    if (rect == "*") {
        s.maximized = true;
    } else if (sscanf(rect.c_str(), "%d,%d,%d,%d", &s.left, &s.top, &s.width, &s.height) == 4 && s.width > 0 &&
               s.height > 0) {
        s.hasRect = true;
    } else {
        s.left = s.top = s.width = s.height = 0;
    }
    return s;
}

bool SaveDebugSettings(const std::string& path, const DebugSettings& s) {
    const char* file = path.c_str();
    bool ok = true;
    auto put = [&](int id, const std::string& value) {
        ok = platform::WriteProfileString(file, kDebugSection, IdKey(id), value.c_str()) && ok;
    };
    auto flag = [&](int id, bool on) { put(id, on ? "1" : "0"); };
    flag(kIdBlock, s.level == DebugLevel::kBlock);
    flag(kIdSentence, s.level == DebugLevel::kSentence);
    flag(kIdStep, s.level == DebugLevel::kStep);
    flag(kIdEntry, s.entry);
    flag(kIdExit, s.exit);
    flag(kIdLower, s.lower);
    flag(kIdLive, s.live);
    flag(kIdWide, s.wide);
    put(kIdCondition, s.condition);
    put(kIdInterval, s.interval);
    for (int i = 0; i < 3; ++i) put(kIdWatch[i], s.watch[i]);
    if (s.maximized) {
        ok = platform::WriteProfileString(file, kDebugSection, kDebugRectKey, "*") && ok;
    } else if (s.hasRect) {
        char rect[64];
        snprintf(rect, sizeof rect, "%d,%d,%d,%d", s.left, s.top, s.width, s.height);
        ok = platform::WriteProfileString(file, kDebugSection, kDebugRectKey, rect) && ok;
    }
    return ok;
}

}  // namespace qotool::diag
