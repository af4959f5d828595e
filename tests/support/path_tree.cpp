#include "support/path_tree.h"

#include <sys/stat.h>

namespace qotool::test {

namespace {

// The registry fixture: texts GBK (this file's literals are), every value
// type the system reads.
std::string RegistryFixture() {
    return std::string() +
           "REGEDIT4\r\n"
           "\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QoTest]\r\n"
           "\"Str\"=\"abc\"\r\n"
           "\"Cn\"=\"中文值\"\r\n"
           "\"Exp\"=hex(2):25,50,41,54,48,25,00\r\n"
           "\"Multi\"=hex(7):61,00,62,63,00,00\r\n"
           "\"Dw\"=dword:0000002a\r\n"
           "\"Neg\"=dword:ffffffff\r\n"
           "\"Bin\"=hex:41,42,00,43\r\n"
           "\"Fits\"=\"" + std::string(259, 'f') + "\"\r\n"
           "\"Long\"=\"" + std::string(260, 'l') + "\"\r\n"
           "[HKEY_CURRENT_USER\\Software\\QoTest]\r\n"
           "@=\"user default\"\r\n";
}

}  // namespace

PathTree::PathTree() : folder_("qo_tree") {
    const std::string root = folder_.path();
    for (const char* file : {"P/a.ini", "P/Q/R/a.TXT", "P/Q/R/b.txt", "P/Q/R/c.ini", "P/Q/R/r.ini", "P/Q/R/ro.txt",
                             "P/Q/R/SUB/a.ini", "P/Q/R/SUB/s.txt", "P/Q/R/SUB/DEEP/d.txt", "P/Q/R/QUIT/q.ini",
                             "CUR/cur.ini", "CUR/SUB/a.ini", "WIN/win.ini", "WIN/SYS/sys.ini", "Z1/z.ini",
                             "Z2/z2.ini", "Z2/SUB/z.ini"}) {
        const std::string name = file;
        folder_.Write("c/" + name, name.substr(name.rfind('/') + 1), name == "P/Q/R/ro.txt" ? 0444 : 0644);
    }
    folder_.MakeDir("home/.config");
    folder_.Write("fixture.reg", RegistryFixture());
    const std::pair<const char*, std::string> values[] = {
        {"HOME", root + "/home"},
        {"XDG_CONFIG_HOME", root + "/home/.config"},
        {"QO_DRIVE_C", root + "/c"},
        {"QO_WORK_DIR", "C:\\P\\Q\\R\\"},
        {"QO_SYSTEM_DIR", "C:\\WIN\\SYS"},
        {"QO_WINDOWS_DIR", "C:\\WIN"},
        {"ZIVavuDara", "C:\\Z1;c:\\z2"},
        {"QO_REGISTRY", root + "/fixture.reg"},
    };
    for (const auto& value : values)
        environment_.push_back(std::make_unique<EnvironmentVariable>(value.first, value.second));
    environment_.push_back(std::make_unique<EnvironmentVariable>("QO_HOST_PATH", nullptr));
    for (const char* name : {"QO_FS_ENCODING", "DISPLAY", "WAYLAND_DISPLAY"})
        environment_.push_back(std::make_unique<EnvironmentVariable>(name, nullptr));
    current_ = std::make_unique<CurrentDirectory>(root + "/c/CUR");
}

PathTree::~PathTree() {
    current_.reset();
    environment_.clear();
}

}  // namespace qotool::test
