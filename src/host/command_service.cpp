#include "host/command_service.h"

#include <cstring>

#include "platform/encoding.h"
#include "platform/file_io.h"
#include "platform/module_handle.h"
#include "platform/module_loader.h"
#include "platform/ui.h"
#include "qotool/host.h"
#include "textutil/gbk_scan.h"

namespace qotool::host {

namespace {

constexpr int kCommandLength = 63;
constexpr char kMailPrefix[] = "MAIL>";
constexpr char kMailModule[] = "postbox.so";
constexpr char kMailFunction[] = "pb_command";
constexpr char kWordListFile[] = "GLOSSARY.INF";
constexpr char kWordListMissing[] = ".";  // the list after a failed load
constexpr char kNoFileCaption[] = "文件不存在";
constexpr char kNoDictionaryCaption[] = "词典不存在";
constexpr char kVersionTag[] = "qotool command service 1.0, 2002-05-17";

using MailCommand = const char* (*)(const char* command, const char* argument);

struct Service {
    CString directory;       // library directory as given, ends with a separator
    CString directoryUpper;  // the same in upper case: what SYSLIB_DIR answers
    CString result;          // answer of GLOSSARY, MAIN_DIR and APP_FILE
    CString wordList;        // ",line,line,...," once loaded; "." after a failed load
    bool standaloneApplication = false;
    void* mailModule = nullptr;
    MailCommand mailCommand = nullptr;
    bool mailMissingShown = false;
};

// Made on first use and never destroyed (the unload hook still uses it).
Service& State() {
    static Service* service = new Service;
    return *service;
}

bool IsSeparatorAt(std::string_view text, size_t i) {
    return (text[i] == '\\' || text[i] == '/') && textutil::IsCharStart(text, 0, i);
}

size_t LastSeparator(std::string_view text, size_t before) {
    for (size_t i = std::min(before, text.size()); i-- > 0;)
        if (IsSeparatorAt(text, i)) return i;
    return std::string_view::npos;
}

const char* SetLibraryDirectory(const char* argument) {
    Service& s = State();
    const std::string_view text(argument);
    const size_t last = LastSeparator(text, text.size());
    if (last != std::string_view::npos) s.directory = CString(text.substr(0, last + 1));
    s.directoryUpper = s.directory;
    s.directoryUpper.MakeUpper();
    return s.directoryUpper.c_str();
}

const char* MainDirectory() {
    Service& s = State();
    const std::string_view text = s.directoryUpper.view();
    const size_t parent = text.empty() ? std::string_view::npos : LastSeparator(text, text.size() - 1);
    s.result = parent == std::string_view::npos ? CString() : CString(text.substr(0, parent + 1));
    return s.result.c_str();
}

const char* ApplicationFile(const char* module) {
    Service& s = State();
    std::string path = platform::LoadedModulePath(platform::FileSystemName(module));
    if (path.empty()) path = platform::HostApplicationPath();
    if (path.size() > 259) path.resize(259);
    s.result = CString(std::string_view(platform::IsUtf8WithNonAscii(path) ? platform::Utf8ToGbk(path) : path));
    return s.result.c_str();
}

// Loads GLOSSARY.INF of the library directory as ",line,line,...,"; false
// (and the list ".") when the file cannot be read.
bool LoadWordList() {
    Service& s = State();
    const CString path = s.directory + kWordListFile;
    std::string content;
    if (!platform::ReadWholeFile(path, content)) {
        s.wordList = kWordListMissing;
        platform::ShowMessageBox(path, kNoDictionaryCaption, platform::kMbOk | platform::kMbTopmost);
        return false;
    }
    std::string list = ",";
    list.reserve(content.size() + 3);
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;  // text mode
        list += content[i] == '\n' ? ',' : content[i];
    }
    list += ',';
    s.wordList = CString(std::string_view(list));
    return true;
}

const char* GlossaryWord(const char* word, int number) {
    Service& s = State();
    s.result = word;
    if (number == 0) return s.result.c_str();
    if (s.wordList.IsEmpty() && !LoadWordList()) return "";
    const std::string_view list = s.wordList.view();
    const std::string needle = std::string(",") + word + ",";
    size_t comma = textutil::FindText(list, needle);
    if (comma == textutil::kNotFound) return s.result.c_str();
    // Move entry by entry; the last comma closes the list and starts none.
    for (; number > 0; --number) {
        const size_t next = list.find(',', comma + 1);
        if (next == std::string_view::npos || next + 1 >= list.size()) break;
        comma = next;
    }
    for (; number < 0; ++number) {
        if (comma == 0) break;
        comma = list.rfind(',', comma - 1);
    }
    const size_t end = list.find(',', comma + 1);
    s.result = CString(list.substr(comma + 1, (end == std::string_view::npos ? list.size() : end) - comma - 1));
    return s.result.c_str();
}

void UnloadMail() {
    Service& s = State();
    platform::UnloadModule(s.mailModule);
    s.mailModule = nullptr;
    s.mailCommand = nullptr;
}

const char* Mail(const char* subcommand, const char* argument) {
    Service& s = State();
    const bool close = strstr(subcommand, "CLOSE") != nullptr;
    if (!s.mailModule) {
        if (close) return "";
        const CString path = s.directory + kMailModule;
        s.mailModule = platform::LoadModule(path);
        s.mailCommand = (MailCommand)platform::ModuleFunction(s.mailModule, kMailFunction);
        if (!s.mailCommand) {
            UnloadMail();
            if (!s.mailMissingShown) {
                s.mailMissingShown = true;
                platform::ShowMessageBox(path, kNoFileCaption, platform::kMbOk | platform::kMbTopmost);
            }
            return "";
        }
        ruqo_Cmd("MAIL>CREATE", "CLIENT", 0);
    }
    if (close) {
        UnloadMail();
        return "";
    }
    const char* answer = s.mailCommand(subcommand, argument);
    return answer ? answer : "";
}

const char* Command(const char* command, const char* argument, int number) {
    CString name(command, (int)strnlen(command, kCommandLength));
    name.MakeUpper();
    Service& s = State();
    if (name == "VCWINAPP") {
        s.standaloneApplication = strcmp(argument, "+") == 0;
        return "";
    }
    if (name == "GLOSSARY") return GlossaryWord(argument, number);
    if (name == "SYSLIB_DIR") return SetLibraryDirectory(argument);
    if (name == "MAIN_DIR") return MainDirectory();
    if (name == "APP_FILE") return ApplicationFile(argument);
    if (strncmp(name, kMailPrefix, sizeof kMailPrefix - 1) == 0)
        return Mail(name.c_str() + sizeof kMailPrefix - 1, argument);
    if (name == "DATASRC") return ruqo_ConfigDataSource(argument, 0) ? "1" : "0";
    if (name == "VERSION") return kVersionTag;
    return "";
}

}  // namespace

bool HasStandaloneApplication() { return State().standaloneApplication; }

std::string LibraryDirectoryForFiles() { return platform::FileSystemName(State().directory); }

void ResetCommandServiceForTest() {
    Service& s = State();
    UnloadMail();
    s = Service{};
}

}  // namespace qotool::host

extern "C" QO_API const char* ruqo_Cmd(const char* command, const char* argument, int number) {
    if (!command || !argument) return "";
    try {
        return qotool::host::Command(command, argument, number);
    } catch (...) {
        return "";
    }
}

extern "C" QO_API const char* pf_cmd(const char* command, const char* argument, int number) {
    return ruqo_Cmd(command, argument, number);
}
