// The module registry, the platform record and the load steps, with real
// modules that carry their versions in their files.
#include "host/module_registry.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "host/command_service.h"
#include "host/library_main.h"
#include "host/platform_record.h"
#include "platform/message_queue.h"
#include "platform/module_handle.h"
#include "platform/module_path.h"
#include "qotool/host.h"
#include "support/gbk_text.h"
#include "support/host_support.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

constexpr char kBoxSuffix[] = "\r\n\r\n详情请查看日志";

// A loaded test module; its handle is an address inside it.
struct Module {
    explicit Module(const std::string& path) : library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        anchor = library ? dlsym(library, "qo_module_anchor") : nullptr;
    }
    ~Module() {
        if (library) dlclose(library);
    }
    std::string Path() const {
        Dl_info info{};
        dladdr(anchor, &info);
        return std::filesystem::canonical(info.dli_fname).string();
    }
    void* library;
    void* anchor;
};

std::string ModuleFile(char id) { return std::string(QOTOOL_TEST_MODULE_DIR) + "/qo_module_" + id + ".so"; }

std::string Upper(std::string text) {
    for (char& c : text) c = (char)toupper((unsigned char)c);
    return text;
}

class ModuleRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { host::ResetModuleRegistryForTest(); }
    // The registry as the library left it at load (the platform record that
    // get('QoVersion') reads), for the tests that run after these.
    void TearDown() override {
        host::ResetModuleRegistryForTest();
        ruqo_VersionCheck(Self(), "QOTOOL_NOQO");
    }
    // The test program stands for the library: it carries the library's version.
    void* Self() { return (void*)&ModuleFile; }
    LogRecorder log;
    RecordingUi ui;
};

TEST(VersionTextTest, ComesFromTheSectionThenTheSidecar) {
    EXPECT_EQ(Gbk(host::VersionText(ModuleFile('a'))), Gbk("平台版本：2,4,9,9--文件版本：1,0,0,7"));
    EXPECT_EQ(Gbk(host::VersionText(ModuleFile('b'))), Gbk("平台版本：2,6,0,0--文件版本：1,0,0,8"));
    EXPECT_EQ(Gbk(host::VersionText(ModuleFile('c'))), Gbk(""));
    TempDir folder;
    std::filesystem::copy_file(ModuleFile('c'), folder.path() + "/c.so");
    folder.Write("c.so.version", "ProductVersion=3, 0,0,1\r\nFileVersion=9,9\r\n");
    EXPECT_EQ(Gbk(host::VersionText(folder.path() + "/c.so")), Gbk("平台版本：3,0,0,1--文件版本：9,9"));
    EXPECT_EQ(Gbk(ruqo_VersionCheck(nullptr, (folder.path() + "/c.so").c_str())),
              Gbk("平台版本：3,0,0,1--文件版本：9,9"));
    EXPECT_EQ(Gbk(ruqo_VersionCheck(nullptr, (folder.path() + "/none.so").c_str())), Gbk(""));
}

TEST(ModuleHandleTest, NamesAndIdentitiesFollowLoadsAndUnloads) {
    const std::string host = platform::HostApplicationPath();
    EXPECT_EQ(platform::ModuleFileName(nullptr), host);
    EXPECT_EQ(platform::ModuleFileName((void*)&ModuleFile), host);  // the running program
    int local = 0;
    EXPECT_EQ(platform::ModuleFileName(&local), host);  // in no module
    EXPECT_EQ(platform::ModuleIdentity(&local), (const void*)&local);
    EXPECT_EQ(platform::ModuleIdentity(nullptr), nullptr);
    // A module unloaded and another loaded, often at the same address: the
    // name and identity are those of the module there now.
    for (char id : {'a', 'b', 'a'}) {
        Module module(ModuleFile(id));
        ASSERT_TRUE(module.anchor) << id;
        EXPECT_EQ(platform::ModuleFileName(module.anchor), module.Path());
        EXPECT_EQ(platform::ModuleFileName(module.anchor), module.Path());
        Dl_info info{};
        ASSERT_TRUE(dladdr(module.anchor, &info));
        EXPECT_EQ(platform::ModuleIdentity(module.anchor), info.dli_fbase);
        EXPECT_NE(platform::ModuleIdentity(module.anchor), platform::ModuleIdentity((void*)&ModuleFile));
    }
}

TEST_F(ModuleRegistryTest, ShortfallIsLoggedEveryTimeAndBoxedOnce) {
    Module a(ModuleFile('a')), b(ModuleFile('b'));
    ASSERT_TRUE(a.anchor && b.anchor);
    const std::string own = host::VersionText("/proc/self/exe").c_str();
    EXPECT_EQ(own.rfind("平台版本：2,3,1,2--文件版本：", 0), 0u) << own;
    EXPECT_EQ(Gbk(ruqo_VersionCheck(Self(), "qotool_noqo")), Gbk(own));
    ASSERT_NE(host::CurrentPlatformRecord(), nullptr);
    EXPECT_EQ(host::CurrentPlatformRecord()->logMask, 1u);
    EXPECT_EQ(host::CurrentPlatformRecord()->showFlag, 1);
    log.Clear();

    ruqo_VersionCheck(a.anchor, "a");
    ruqo_VersionCheck(b.anchor, "b?a:2,5,0,0");
    ruqo_VersionCheck(b.anchor, "B?A:2,5,0,0");  // again: one entry, one handle
    const std::string shortfall = "A 的实际版本:2,4,9,9 低于 B 要求其最低版本:2,5,0,0";
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(log.lines()[0].mode, 4);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("加载2,4,9,9（1,0,0,7）版 A " + Upper(a.Path())));
    EXPECT_EQ(log.lines()[1].mode, 2);
    EXPECT_EQ(Gbk(log.lines()[1].message), Gbk(shortfall));
    EXPECT_EQ(Gbk(log.lines()[2].message), Gbk("加载2,6,0,0（1,0,0,8）版 B " + Upper(b.Path())));
    EXPECT_EQ(Gbk(log.lines()[3].message), Gbk(shortfall));
    ASSERT_EQ(ui.BoxTexts().size(), 1u);
    EXPECT_EQ(Gbk(ui.BoxTexts()[0]), Gbk(shortfall + kBoxSuffix));
    EXPECT_EQ(Gbk(host::RegistryText()), Gbk("|QOTOOL_NOQO=2,3,1,2??|A=2,4,9,9??|B=2,6,0,0?A:2,5,0,0?"));
    EXPECT_EQ(host::RegisteredModuleCount(), 3);
}

TEST_F(ModuleRegistryTest, LateModuleIsCheckedAgainstEarlierRequirements) {
    TempDir folder;
    std::filesystem::copy_file(ModuleFile('c'), folder.path() + "/c.so");
    folder.Write("c.so.version", "ProductVersion=2,4,0,0\nFileVersion=1\n");
    Module b(ModuleFile('b')), late(folder.path() + "/c.so");
    ruqo_VersionCheck(b.anchor, "X?Y:1,0,0,0?B?A:2,5,0,0");  // the name ends at the first "?"
    ruqo_VersionCheck(b.anchor, "-X");
    host::ResetModuleRegistryForTest();
    log.Clear();
    ruqo_VersionCheck(b.anchor, "B?A:2,5,0,0");
    ruqo_VersionCheck(late.anchor, "A");
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(Gbk(messages[1]), Gbk("A 的实际版本:2,4,0,0 低于 B 要求其最低版本:2,5,0,0"));
    EXPECT_EQ(ui.BoxTexts().size(), 1u);
}

TEST_F(ModuleRegistryTest, ModuleWithoutRequirementsMeetsThePlatformMinimum) {
    Module c(ModuleFile('c'));
    ruqo_VersionCheck(c.anchor, "C");
    ASSERT_GE(log.lines().size(), 1u);
    EXPECT_EQ(Gbk(log.lines()[0].message), Gbk("C 的实际版本:0,0,0,0 低于 平台系统 要求其最低版本:2,3,1,2"));
    EXPECT_EQ(log.lines()[0].mode, 2);
}

TEST_F(ModuleRegistryTest, LastModuleLeavingSetsTheFinalMaskAndEndsTheSuite) {
    Module a(ModuleFile('a')), b(ModuleFile('b'));
    ruqo_VersionCheck(Self(), "QOTOOL_NOQO");
    ruqo_VersionCheck(a.anchor, "A");
    ruqo_VersionCheck(b.anchor, "B");
    log.Clear();
    EXPECT_EQ(Gbk(ruqo_VersionCheck(a.anchor, "-A")), Gbk(""));
    ruqo_VersionCheck(a.anchor, "-A");  // no longer registered: position 0
    ruqo_VersionCheck(b.anchor, "-B");
    host::NoteLogRecordWritten();  // the message log has written a record
    ruqo_VersionCheck(Self(), "-QOTOOL_NOQO");
    const auto& lines = log.lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Gbk(lines[0].message), Gbk("卸载 #2/3：" + Upper(a.Path())));
    EXPECT_EQ(Gbk(lines[1].message), Gbk("卸载 #0/2：" + Upper(a.Path())));
    EXPECT_EQ(Gbk(lines[2].message), Gbk("卸载 #2/2：" + Upper(b.Path())));
    EXPECT_EQ(lines[3].message.rfind("卸载 #1/1：", 0), 0u);
    EXPECT_EQ(lines[3].maskWhenLogged, 1u);
    EXPECT_EQ(Gbk(lines[4].message), Gbk("----平台套件卸载完毕----"));
    EXPECT_EQ(lines[4].mode, 4);
    EXPECT_EQ(lines[4].maskWhenLogged, 0xC0u);
    EXPECT_EQ(host::CurrentPlatformRecord(), nullptr);
    EXPECT_EQ(Gbk(host::RegistryText()), Gbk(""));
}

TEST_F(ModuleRegistryTest, WithoutLogRecordsTheMaskStays) {
    Module a(ModuleFile('a'));
    ruqo_VersionCheck(a.anchor, "A");
    ruqo_VersionCheck(a.anchor, "-A");
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_EQ(log.lines()[2].maskWhenLogged, 1u);
}

TEST_F(ModuleRegistryTest, PropertiesGiveTheWorkDirectoryAndTheRecord) {
    TempDir folder;
    EnvironmentVariable work("QO_WORK_DIR", folder.path() + "/");
    ruqo_VersionCheck(Self(), "QOTOOL_NOQO");
    for (const char* name : {"WorkDirectory", "workdirectory"}) {
        const char* value = (const char*)ruqo_GetQoProperty(name, nullptr);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(std::string(value), folder.path() + "/");
    }
    EXPECT_EQ(ruqo_GetQoProperty("EP_Share", nullptr), host::CurrentPlatformRecord());
    EXPECT_EQ(Gbk(host::CurrentPlatformRecord()->workDirectory), Gbk(folder.path() + "/"));
    EXPECT_EQ(ruqo_GetQoProperty("Other", nullptr), nullptr);
    EXPECT_EQ(ruqo_GetQoProperty(nullptr, nullptr), nullptr);
    EXPECT_EQ(Gbk(ruqo_AllQuit()), Gbk(""));
}

// The library attached when this process started, on this thread; nothing
// has serviced messages yet. Exits with 0, or 1 after naming what is wrong.
[[noreturn]] void CheckFirstMessageService() {
    LogRecorder log;
    std::string wrong;
    auto check = [&wrong](bool holds, const char* what) { wrong += holds ? "" : std::string(what) + "\n"; };
    check(!host::StartTimerHasRun(), "the start timer ran before the first message service");
    check(platform::ServiceThreadMessages() >= 1, "the first service ran no message");
    check(host::StartTimerHasRun(), "the start timer did not run");
    check(host::HasStandaloneApplication(), "no standalone application");
    check(log.lines().size() == 1 && Gbk(log.lines()[0].message) == Gbk("创建独立的CWinApp伪应用环境"),
          "the log does not hold the one creation line");
    check(platform::ServiceThreadMessages() == 0, "the start timer ran twice");
    check(!Gbk(ruqo_Cmd("SYSLIB_DIR", "", 0)).bytes.empty(), "no SYSLIB_DIR");
    fputs(wrong.c_str(), stderr);
    _exit(wrong.empty() ? 0 : 1);
}

// Only the first message service of a process creates the application, so
// the checks run in a fresh copy of this program (a death test's child that
// runs this test alone), whatever ran before them in this one.
TEST(LibraryLoadTest, FirstMessageServiceCreatesTheStandaloneApplication) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CheckFirstMessageService(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qotool::test
