// System built-ins where a script alone cannot see the effect: key codes
// asked of the key provider, real child processes ended or waited for,
// messages serviced during a wait, the host path rule, file-system names,
// providers that fail, and bad input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builtins/builtin_harness.h"
#include "builtins/system.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/message_queue.h"
#include "platform/module_path.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "qotool/paths.h"
#include "support/gbk_text.h"
#include "support/path_tree.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

std::atomic<int> g_downKey{-1};
int KeyDown(int code) { return code == g_downKey.load() ? platform::kKeyDown : 0; }

TEST(SystemKeysTest, SpyKeyAsksForTheKeyCodeOfEachName) {
    platform::KeyStateProvider previous = platform::SetKeyStateProvider(KeyDown);
    struct Row {
        const char* argument;
        int code;
    };
    const Row rows[] = {{"'f5'", 0x74},     {"'F12'", 0x7B},  {"'a'", 0x41},   {"'Z'", 0x5A},   {"'0'", 0x30},
                        {"'alt'", 0x12},    {"'Ctrl'", 0x11}, {"'ENTER'", 0x0D}, {"'esc'", 0x1B}, {"'back'", 0x08},
                        {"'lbutton'", 0x01}, {"'PgDn'", 0x22}, {"'delete'", 0x2E}, {"65", 65},     {"'F'", 0x46}};
    CQoLanguage qo;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argument);
        g_downKey = row.code;
        EXPECT_EQ(RunAndResult(qo, std::string("SpyKey(") + row.argument + ")"), "N:1");
        g_downKey = row.code + 1;
        EXPECT_EQ(RunAndResult(qo, std::string("SpyKey(") + row.argument + ")"), "N:0");
    }
    EXPECT_EQ(builtins::KeyCodeOfName("XYZ"), -1);
    EXPECT_EQ(builtins::KeyCodeOfName(""), -1);
    platform::SetKeyStateProvider(previous);
}

// A child that ignores the close request.
int StartStubborn() {
    int pid = 0;
    EXPECT_EQ(platform::StartProgram("sh -c \"trap '' TERM; exec sleep 30\"", "", pid), platform::StartFailure::kNone);
    usleep(100000);  // let the shell set its trap
    return pid;
}

TEST(SystemProcessTest, ExecKillWithoutTheKillFlagLeavesTheChildRunning) {
    const int pid = StartStubborn();
    EXPECT_EQ(ruqo_ExecWithMsg("ExecKill", (unsigned)pid, 1u, 150), (unsigned)pid);
    EXPECT_EQ(ruqo_ExecWithMsg("ExecKill", (unsigned)pid, 8u, 0), 0u);  // no wait: ends it at once
}

TEST(SystemProcessTest, WaitsAnswerForThisProcessAndForMissingOnes) {
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitProcess", 0u, 0u, 0), (unsigned)getpid());
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitProcess", 0u, 1u, 50), (unsigned)getpid());  // times out
    EXPECT_EQ(ruqo_ExecWithMsg("ExecKill", 0u, 9u, 50), (unsigned)getpid());  // never ends this process
}

// Windows of a pretend UI layer: window 7 belongs to a child and is visible
// while the child runs.
std::atomic<int> g_windowPid{0};
const platform::WindowProvider kWindows = {
    [] { return (uintptr_t)7; },
    [](uintptr_t w, int* pid) {
        *pid = g_windowPid;
        return w == 7;
    },
    [](uintptr_t w) { return w == 7 && kill(g_windowPid, 0) == 0; },
};

TEST(SystemProcessTest, WindowWaitsFollowTheWindowsProcess) {
    // The library's start timer runs first: a wait without flag 0x04 only
    // takes it off the queue, and its next expiry would end the wait.
    platform::PumpThreadMessages(5);
    const platform::WindowProvider* previous = platform::SetWindowProvider(&kWindows);
    int pid = 0;
    ASSERT_EQ(platform::StartProgram("sleep 0.3", nullptr, pid), platform::StartFailure::kNone);
    g_windowPid = pid;
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitWindow", 0u, 0u, 0), 7u);    // no wait: the window
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitWindow", 7u, 1u, 100), 7u);  // timed out
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitWindow", 7u, 1u, 0), 0u);    // the process ended
    EXPECT_EQ(ruqo_ExecWithMsg("ExecWaitWindow", 8u, 1u, 0), 0xFFFFFFFFu);
    platform::SetWindowProvider(previous);
}

// A started program inherits none of the host's descriptors above 2, even
// those opened without close-on-exec (a file and a socket here).
TEST(SystemProcessTest, StartedProgramsInheritNoDescriptorAbove2) {
    const int file = open("/dev/null", O_RDONLY);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GT(file, 2);
    ASSERT_GT(sock, 2);
    // exec and ExecWait: the child's descriptors once it runs.
    int pid = 0;
    ASSERT_EQ(platform::StartProgram("sleep 5", nullptr, pid), platform::StartFailure::kNone);
    // (The program may open a file of its own for a moment while it starts:
    // an inherited descriptor is one that stays.)
    const std::vector<std::string> standard{"0", "1", "2"};
    std::vector<std::string> held;
    for (int look = 0; look < 40 && held != standard; ++look) {
        if (look > 0) usleep(50000);
        held.clear();
        for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
            held.push_back(entry.path().filename().string());
        std::sort(held.begin(), held.end());
    }
    platform::TerminateProcess(pid);
    EXPECT_EQ(held, standard);
    // A command line (exec with -1): its shell has neither open.
    const std::string test = "test ! -e /proc/self/fd/" + std::to_string(file) + " && test ! -e /proc/self/fd/" +
                             std::to_string(sock);
    EXPECT_EQ(platform::RunCommandLine(test.c_str()), 0);
    close(file);
    close(sock);
}

// The parent of a process and its state letter, from /proc; 0 when gone.
char ProcessState(int pid, int* parent) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    const size_t end = line.rfind(')');
    if (end == std::string::npos) return 0;
    char state = 0;
    sscanf(line.c_str() + end + 1, " %c %d", &state, parent);
    return state;
}

// Children the library started are reaped once they end, with no later
// process call; a child the host started itself is left to the host.
TEST(SystemProcessTest, EndedChildrenAreReapedButNotTheHostsOwn) {
    const pid_t own = fork();
    ASSERT_GE(own, 0);
    if (own == 0) _exit(7);
    std::vector<int> started;
    for (int i = 0; i < 40; ++i) {
        int pid = 0;
        ASSERT_EQ(platform::StartProgram("sleep 0.1", nullptr, pid), platform::StartFailure::kNone);
        started.push_back(pid);
    }
    // Up to 20 s for the last to end and be reaped; the test does not time it.
    const int64_t deadline = platform::MonotonicMillis() + 20000;
    std::vector<int> zombies;
    do {
        usleep(50000);
        zombies.clear();
        for (int pid : started) {
            int parent = 0;
            if (ProcessState(pid, &parent) == 'Z' && parent == getpid()) zombies.push_back(pid);
        }
    } while (!zombies.empty() && platform::MonotonicMillis() < deadline);
    EXPECT_TRUE(zombies.empty()) << zombies.size() << " children of ours stay zombies";
    int status = 0;
    ASSERT_EQ(waitpid(own, &status, 0), own) << "the host's own child was reaped by the library";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
}

TEST(SystemProcessTest, CommandLinesSplitByTheWindowsRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::SplitCommandLine("  prog a  b"), (V{"prog", "a", "b"}));
    EXPECT_EQ(platform::SplitCommandLine("\"C:\\a b\\p.exe\" \"x y\" z"), (V{"C:\\a b\\p.exe", "x y", "z"}));
    EXPECT_EQ(platform::SplitCommandLine("p a\\\\\"b c\" d\\e \\\"q"), (V{"p", "a\\b c", "d\\e", "\"q"}));
    EXPECT_EQ(platform::SplitCommandLine("p \"\" \"a\"\"b\""), (V{"p", "", "a\"b"}));
    EXPECT_EQ(platform::SplitCommandLine("p 中\\文"), (V{"p", "中\\文"}));
    EXPECT_TRUE(platform::SplitCommandLine("   ").empty());
}

TEST(SystemHostTest, TheWorkDirectoryComesFromTheHostPath) {
    struct Row {
        const char* host;
        const char* work;
    };
    const Row rows[] = {
        {"C:\\PROJ\\RELEASE\\APP.EXE", "C:\\PROJ\\"},       {"C:\\PROJ\\DEBUG2\\APP.EXE", "C:\\PROJ\\"},
        {"C:\\PROJ\\RELEASE\\DEBUG\\A.EXE", "C:\\PROJ\\"},  {"C:\\PROJ\\DEBUG\\RELEASE\\A.EXE", "C:\\PROJ\\DEBUG\\"},
        {"C:\\PROJ\\MYDEBUG\\A.EXE", "C:\\PROJ\\MYDEBUG\\"}, {"/OPT/APP/RELEASE2/APP", "/OPT/APP/"},
        {"C:\\APP.EXE", "C:\\"},                              {"APP", ""},
        {"\xB0\\Debug\\app", "\xB0\\Debug\\"},  // a trail byte is no separator
    };
    for (const Row& row : rows) EXPECT_EQ(platform::WorkDirectoryOfHost(row.host), row.work) << row.host;

    EnvironmentVariable work("QO_WORK_DIR", nullptr);
    EnvironmentVariable host("QO_HOST_PATH", "c:\\proj\\release\\app.exe");
    EXPECT_EQ(platform::HostPath(), "C:\\PROJ\\RELEASE\\APP.EXE");
    CQoLanguage qo;
    EXPECT_EQ(RunAndResult(qo, "get('WorkDirectory') + ';' + get('Path', '%path-1%x')"), "S:C:\\PROJ\\;C:\\x");
    EnvironmentVariable none("QO_HOST_PATH", nullptr);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string exe = platform::HostPath();
    EXPECT_EQ(platform::WorkDirectory(), platform::WorkDirectoryOfHost(exe));
    EXPECT_NE(exe.find("QOTOOL_TESTS"), std::string::npos) << exe;
}

TEST(SystemPathTest, SystemPathsMapToFileSystemNames) {
    PathTree tree;
    const std::string c = tree.DrivePath("");
    struct Row {
        const char* path;
        std::string name;
    };
    const std::vector<Row> rows = {
        {"C:\\P\\a.ini", c + "P/a.ini"},
        {"c:/p\\Q/r\\SUB\\A.INI", c + "P/Q/R/SUB/a.ini"},         // drive, both separators, any case
        {"C:\\p\\NEW\\x.txt", c + "P/NEW/x.txt"},                 // a missing tail stays as written
        {"C:\\P\\Q\\", c + "P/Q/"},
        {"C:", c},
        {"C:\\目录\\文.txt", c + "\xE7\x9B\xAE\xE5\xBD\x95/\xE6\x96\x87.txt"},  // GBK to UTF-8
        {"C:\\\xFF\x81.txt", c + "\xFF\x81.txt"},               // not GBK: unchanged
        {"D:\\x", "/x"},                                          // no QO_DRIVE_D: the root
        {"C:\\P\\Q\\R\\B.TXT", c + "P/Q/R/b.txt"},                 // the folders as written exist
        {"C:\\LOW\\ER\\F.TXT", c + "low/er/f.txt"},                // the folders in lower case
    };
    std::filesystem::create_directories(c + "low/er");
    std::ofstream(c + "low/er/f.txt") << "f";
    for (const Row& row : rows) EXPECT_EQ(platform::FileSystemName(row.path), row.name) << row.path;
    EnvironmentVariable gbk("QO_FS_ENCODING", "GBK");
    EXPECT_EQ(platform::FileSystemName("C:\\目录"), c + "目录");
    // A GBK name's trail byte "A" is no letter: of "\x81\x41x" and "\x81\x61x"
    // the first is the one that matches "\x81\x41X".
    for (const char* name : {"\x81\x61x.txt", "\x81\x41x.txt"}) std::ofstream(c + name) << name;
    EXPECT_EQ(platform::FileSystemName("C:\\\x81\x41X.TXT"), c + "\x81\x41x.txt");
}

TEST(SystemPathTest, AChineseNameWrittenFromAScriptIsUtf8OnDisk) {
    PathTree tree;
    CQoLanguage qo;
    EXPECT_EQ(RunAndResult(qo, "FileWrite('%path%中文.txt', 'x中')"), "N:3");
    struct stat info;
    EXPECT_EQ(stat(tree.DrivePath("P/Q/R/\xE4\xB8\xAD\xE6\x96\x87.txt").c_str(), &info), 0);
    EXPECT_EQ(Gbk(RunAndResult(qo, "get('FileList', 'C:\\\\P\\\\Q\\\\R', '中*')")), Gbk("S:C:\\P\\Q\\R\\中文.TXT"));
}

TEST(SystemProcessTest, ACommandLineGivesItsExitCodeWithTheError) {
    CQoLanguage qo;
    qo.DoQol("exec('exit 3', -1)", nullptr);
    EXPECT_EQ(qo.m_cType, 'X');
    EXPECT_EQ(qo.m_dValue, 3);
    EXPECT_NE(std::string(qo.m_strError.view()).find("执行DOS命令不正确"), std::string::npos);
}

const platform::ClipboardProvider kBrokenClipboard = {[](std::string*) { return false; },
                                                      [](std::string_view) { return false; }};

TEST(SystemDeviceTest, ProvidersThatFailAndPlayersThatSucceed) {
    PathTree tree;
    CQoLanguage qo;
    const platform::ClipboardProvider* previous = platform::SetClipboardProvider(&kBrokenClipboard);
    EXPECT_EQ(Gbk(RunAndResult(qo, "Clipboard()").substr(0, 14)), Gbk("X:剪贴板读失败"));
    EXPECT_EQ(Gbk(RunAndResult(qo, "Clipboard('a')").substr(0, 14)), Gbk("X:剪贴板写失败"));
    platform::SetClipboardProvider(previous);
    {
        EnvironmentVariable player("QO_PLAYSOUND", "/bin/true");
        EXPECT_EQ(RunAndResult(qo, "PlaySound('a.wav')"), "N:1");
    }
    EnvironmentVariable player("QO_PLAYSOUND", "/bin/false");
    EXPECT_EQ(RunAndResult(qo, "PlaySound('a.wav')"), "N:0");  // (no player at all: ui_test.cpp)
}

TEST(SystemBadInputTest, LongAndBrokenNamesNeverCrash) {
    PathTree tree;
    CQoLanguage qo;
    const std::string longName(10000, 'x');
    EXPECT_EQ(RunAndResult(qo, "FileAccess('C:\\\\" + longName + "')"), "N:-1");
    EXPECT_EQ(RunAndResult(qo, "FileWrite('C:\\\\" + longName + "', 'x')").substr(0, 14), "X:C:\\xxxxxxxxx");
    EXPECT_EQ(RunAndResult(qo, "len(SearchFileByPath('" + longName + "', 'AaCcSsWwPp'))"), "N:10000");
    EXPECT_EQ(RunAndResult(qo, "get('FileList', 'C:\\\\" + longName + "', '*', 'S')"), "S:");
    const std::string deep = std::string(600, 'a') + "\\\\";  // 600 letters and an escaped backslash
    EXPECT_EQ(RunAndResult(qo, "len(get('Path', '%path-99999999999999999999%" + deep + "'))"), "N:604");
    // A byte that is not GBK in a name written and read back.
    EXPECT_EQ(RunAndResult(qo, "FileWrite('%path%\xFF.txt', 'y'); FileRead('%path%\xFF.txt')"), "S:y");
    // A listing that meets a link back to its own folder ends.
    ASSERT_EQ(symlink(tree.DrivePath("P").c_str(), tree.DrivePath("P/Q/loop").c_str()), 0);
    EXPECT_EQ(Gbk(RunAndResult(qo, "get('FileList', 'C:\\\\P', 'a.ini', 'S')")), Gbk("S:C:\\P\\A.INI\r\nC:\\P\\Q\\R\\SUB\\A.INI"));
}

}  // namespace
}  // namespace qotool::test
