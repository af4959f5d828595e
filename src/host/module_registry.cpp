#include "host/module_registry.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "host/host_log.h"
#include "host/platform_record.h"
#include "platform/encoding.h"
#include "platform/file_io.h"
#include "platform/module_handle.h"
#include "platform/module_path.h"
#include "platform/number_text.h"
#include "platform/ui.h"
#include "platform/version_info.h"
#include "qotool/host.h"
#include "qotool/textcut.h"
#include "textutil/gbk_scan.h"

namespace qotool::host {

namespace {

constexpr char kProductKey[] = "平台版本：";
constexpr char kFileKey[] = "文件版本：";
constexpr char kVersionSeparator[] = "--";
constexpr char kNoVersion[] = "0,0,0,0";
constexpr char kShortfall[] = "%s 的实际版本:%d,%d,%d,%d 低于 %s 要求其最低版本:%d,%d,%d,%d";
constexpr char kSeeLog[] = "\r\n\r\n详情请查看日志";
constexpr char kPlatformRequirer[] = "平台系统";
constexpr char kPlatformMinimum[] = "2,3,1,2";
constexpr char kLoaded[] = "加载";
constexpr char kOpenParen[] = "（";
constexpr char kEdition[] = "）版 ";
constexpr char kUnloaded[] = "卸载 ";
constexpr char kPositionEnd[] = "：";  // after "#position/count"
constexpr char kSuiteUnloaded[] = "----平台套件卸载完毕----";
constexpr uint32_t kFinalLogMask = 0xC0;  // file logging with flush, no boxes

struct Registry {
    std::recursive_mutex mutex;
    bool initialised = false;   // host path recorded and platform record made
    bool warningShown = false;  // the shortfall box has been shown
    CString hostPath;           // upper case
    CString baseModuleName;
    CString workDirectory;
    std::vector<const void*> handles;
    std::unique_ptr<CString> text;  // null while there is no registry
    CString fileVersionText;        // answer of a null-handle call
};

// Made on first use and never destroyed (the unload hook still uses it).
Registry& State() {
    static Registry* registry = new Registry;
    return *registry;
}

CString FromOs(const std::string& text) {
    return CString(std::string_view(platform::IsUtf8WithNonAscii(text) ? platform::Utf8ToGbk(text) : text));
}

struct Version {
    int part[4] = {0, 0, 0, 0};
    long long Value() const { return part[0] * 1000000LL + part[1] * 10000LL + part[2] * 100LL + part[3]; }
};

// The number at the start of text as atoi reads it (blanks, a sign, digits;
// a value past the range of long held at its end), without the C library's
// locale tables: every start reads the library's own version.
int LeadingNumber(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    const unsigned long long limit = negative ? (unsigned long long)LONG_MAX + 1 : LONG_MAX;
    unsigned long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value > (limit - (*text - '0')) / 10 ? limit : value * 10 + (*text - '0');
    return (int)(negative ? (long)(0 - value) : (long)value);
}

Version ParseVersion(const char* text) {
    Version version;
    for (int i = 0; i < 4 && text; ++i) {
        version.part[i] = LeadingNumber(text);
        text = strchr(text, ',');
        if (text) ++text;
    }
    return version;
}

bool IsSeparator(std::string_view text, size_t i) {
    return (text[i] == '/' || text[i] == '\\') && textutil::IsCharStart(text, 0, i);
}

// Position of the last separator of text, or npos.
size_t LastSeparator(std::string_view text) {
    for (size_t i = text.size(); i-- > 0;)
        if (IsSeparator(text, i)) return i;
    return std::string_view::npos;
}

CString DirectoryOf(const CString& path) {
    const size_t last = LastSeparator(path.view());
    return last == std::string_view::npos ? CString() : path.Left((int)last + 1);
}

// The text after marker in text up to the next "?" (npos when absent).
bool ValueAfter(const CString& text, const CString& marker, CString& value, int* at = nullptr) {
    const int found = text.Find(marker);
    if (found < 0) return false;
    const int start = found + marker.GetLength();
    const int end = text.Find('?', start);
    value = end < 0 ? text.Mid(start) : text.Mid(start, end - start);
    if (at) *at = found;
    return true;
}

// Logs a version shortfall and shows it the first time in the process.
void CheckVersion(const CString& module, const CString& actual, const CString& requirer, const CString& required) {
    const Version have = ParseVersion(actual), need = ParseVersion(required);
    if (have.Value() >= need.Value()) return;
    CString message;
    message.Format(kShortfall, module.c_str(), have.part[0], have.part[1], have.part[2], have.part[3], requirer.c_str(),
                   need.part[0], need.part[1], need.part[2], need.part[3]);
    Log(kLogWarning, message);
    Registry& state = State();
    if (state.warningShown) return;
    state.warningShown = true;
    platform::ShowMessageBox(message + kSeeLog, platform::kPromptCaption, platform::kMbOk | platform::kMbTopmost);
}

// The module of the registry entry that holds the text at position at.
CString EntryNameAt(const CString& text, int at) {
    std::string_view view = text.view();
    size_t start = 0;
    for (size_t bar = textutil::FindText(view, "|"); bar != textutil::kNotFound && bar < (size_t)at;
         bar = textutil::FindText(view, "|", bar + 1))
        start = bar + 1;
    const int equals = text.Find('=', (int)start);
    return text.Mid((int)start, (equals < 0 ? at : equals) - (int)start);
}

CString TextOf(const platform::VersionInfo& info) {
    CString text =
        CString(kProductKey) + info.productVersion.c_str() + kVersionSeparator + kFileKey + info.fileVersion.c_str();
    text.Replace(" ", "");
    return text;
}

// The version text of the module at osPath: this module's own comes from
// its memory (the same bytes as its file's section), any other's from its file.
CString ModuleVersionText(const void* identity, const std::string& osPath) {
    platform::VersionInfo info;
    const void* own = nullptr;
    if (platform::OwnVersionInfo(info, own)) {
        static const void* const ownIdentity = platform::ModuleIdentity(own);
        if (identity == ownIdentity) return TextOf(info);
    }
    return VersionText(osPath);
}

const char* Register(const void* handle, const char* request) {
    Registry& state = State();
    const std::string osPath = platform::ModuleFileName(handle);
    CString path = FromOs(osPath);
    path.MakeUpper();
    if (state.hostPath.IsEmpty()) state.hostPath = HostApplicationText();
    const void* identity = platform::ModuleIdentity(handle);
    const CString version = ModuleVersionText(identity, osPath);

    CString spec(request);
    spec.MakeUpper();
    const int question = spec.Find('?');
    const CString name = question < 0 ? spec : spec.Left(question);
    const CString requirements = question < 0 ? CString() : spec.Mid(question + 1);

    if (!state.initialised) {
        state.initialised = true;
        state.baseModuleName = name;
        PlatformRecord& record = EnsurePlatformRecord();
        record.versionText = version;
        record.moduleDirectory = DirectoryOf(path);
        state.workDirectory = platform::WorkDirectory().c_str();
        record.workDirectory = state.workDirectory;
    }

    const CString productVersion = ruqo_MatchCut(version, kProductKey, kVersionSeparator, kNoVersion);
    const CString fileVersion = ruqo_MatchCut(version, kFileKey, kVersionSeparator, kNoVersion);
    if (!state.text) state.text = std::make_unique<CString>();
    CString& text = *state.text;

    // Modules registered before that need this one.
    CString required;
    int at = -1;
    if (ValueAfter(text, "?" + name + ":", required, &at))
        CheckVersion(name, productVersion, EntryNameAt(text, at), required);
    // What this one needs of the modules registered before.
    for (int start = 0; start < requirements.GetLength();) {
        int end = requirements.Find('?', start);
        if (end < 0) end = requirements.GetLength();
        const CString item = requirements.Mid(start, end - start);
        start = end + 1;
        const int colon = item.Find(':');
        if (colon < 0) continue;
        CString registered;
        if (ValueAfter(text, "|" + item.Left(colon) + "=", registered))
            CheckVersion(item.Left(colon), registered, name, item.Mid(colon + 1));
    }
    if (text.Find("|" + name + "=") < 0) text += "|" + name + "=" + productVersion + "?" + requirements + "?";
    if (requirements.IsEmpty()) {
        CString registered;
        ValueAfter(text, "|" + name + "=", registered);
        CheckVersion(name, registered, kPlatformRequirer, kPlatformMinimum);
    }

    bool known = false;
    for (const void* h : state.handles) known = known || h == identity;
    if (!known) {
        state.handles.push_back(identity);
        Log(kLogMainResult, kLoaded + productVersion + kOpenParen + fileVersion + kEdition + name + " " + path);
    }
    PlatformRecord* record = CurrentPlatformRecord();
    return record ? record->versionText.c_str() : "";
}

const char* Unregister(const void* handle) {
    Registry& state = State();
    const void* identity = platform::ModuleIdentity(handle);
    const int count = (int)state.handles.size();
    int position = 0;
    for (int i = count; i-- > 0;) {
        if (state.handles[(size_t)i] != identity) continue;
        position = i + 1;
        state.handles.erase(state.handles.begin() + i);
        break;
    }
    CString path = FromOs(platform::ModuleFileName(handle));
    path.MakeUpper();
    // "#position/count：", its digits from the number formatter: printf's
    // would be paged in at every exit for this text alone.
    char digits[24];
    CString where = "#";
    where.Append(digits, platform::FormatWhole(position, digits));
    where += '/';
    where.Append(digits, platform::FormatWhole(count, digits));
    where += kPositionEnd;
    Log(kLogMainResult, kUnloaded + where + path);
    if (state.handles.empty()) {
        if (LogRecordWritten()) SetLogCategoryMask(kFinalLogMask);
        Log(kLogMainResult, kSuiteUnloaded);
        DestroyPlatformRecord();
        state.text.reset();
    }
    return "";
}

}  // namespace

CString VersionText(const std::string& osPath) {
    platform::VersionInfo info;
    return platform::ReadVersionInfo(osPath, info) ? TextOf(info) : CString();
}

CString HostApplicationText() { return CString(platform::HostPath().c_str()); }

CString RegistryText() {
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    return state.text ? *state.text : CString();
}

int RegisteredModuleCount() {
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    return (int)state.handles.size();
}

void ResetModuleRegistryForTest() {
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.initialised = state.warningShown = false;
    state.hostPath.Empty();
    state.baseModuleName.Empty();
    state.workDirectory.Empty();
    state.handles.clear();
    state.text.reset();
    ResetPlatformRecordForTest();
}

}  // namespace qotool::host

using namespace qotool::host;

extern "C" QO_API const char* ruqo_VersionCheck(void* module, const char* request) {
    try {
        Registry& state = State();
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        if (!request) request = "";
        if (!module) {
            state.fileVersionText = VersionText(qotool::platform::FileSystemName(request));
            return state.fileVersionText.c_str();
        }
        if (request[0] == '-') return Unregister(module);
        return Register(module, request);
    } catch (...) {
        return "";
    }
}

extern "C" QO_API void* ruqo_GetQoProperty(const char* name, void*) {
    if (!name) return nullptr;
    if (strcasecmp(name, "WorkDirectory") == 0) {
        Registry& state = State();
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        if (state.workDirectory.IsEmpty()) state.workDirectory = FromOs(qotool::platform::WorkDirectory());
        return (void*)state.workDirectory.c_str();
    }
    if (strcmp(name, "EP_Share") == 0) return CurrentPlatformRecord();
    return nullptr;
}

QO_API CString ruqo_AllQuit() { return CString(); }
