// Library names as scripts give them, the versioned sonames found for bare
// names, the loader's reasons (its own name and the handles it refuses are
// in native.cases), and the memory probe next to pages that are not there.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/memory_probe.h"
#include "platform/module_loader.h"
#include "support/temp_env.h"

namespace {

using namespace qotool::platform;

std::vector<std::string> Tail(const std::vector<std::string>& v, size_t n) {
    return std::vector<std::string>(v.end() - (long)std::min(n, v.size()), v.end());
}

TEST(ModuleLoaderTest, NamesMapToSharedObjectFiles) {
    struct Row {
        const char* name;
        std::vector<std::string> candidates;
    } rows[] = {
        {"lib/Foo.dll", {"lib/Foo.so", "lib/libFoo.so", "lib/foo.so", "lib/libfoo.so"}},
        {"lib\\bar", {"lib/bar.so", "lib/libbar.so"}},
        {"lib/FOO.DLL", {"lib/FOO.so", "lib/libFOO.so", "lib/foo.so", "lib/libfoo.so"}},
        {"lib/libx.so.3", {"lib/libx.so.3"}},
        {"lib/data.bin", {"lib/data.bin"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ModuleCandidates(row.name), row.candidates);
    }
    // Without a folder the system's search comes last, after our folders.
    EXPECT_EQ(Tail(ModuleCandidates("Foo.dll"), 4),
              (std::vector<std::string>{"Foo.so", "libFoo.so", "foo.so", "libfoo.so"}));
    std::vector<std::string> withPath;
    {
        qotool::test::EnvironmentVariable modulePath("QO_MODULE_PATH", "/opt/qo_a:/opt/qo_b/");
        withPath = ModuleCandidates("m");
    }
    int seen = 0;
    for (const std::string& c : withPath) seen += c == "/opt/qo_a/m.so" || c == "/opt/qo_b/libm.so";
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(ModuleCandidates("").empty());
}

TEST(ModuleLoaderTest, BareNamesFindTheHighestVersionedSoname) {
    std::string c = HighestVersionedLibrary("c");
    ASSERT_GE(c.size(), 10u);
    EXPECT_EQ(c.substr(c.size() - 10), "/libc.so.6");
    EXPECT_EQ(HighestVersionedLibrary("no_such_library_qo"), "");
    const struct {
        const char* name;
        const char* symbol;
    } rows[] = {{"c", "strlen"}, {"C.dll", "strlen"}, {"m", "pow"}, {"libm.so.6", "pow"},
                {"libc", "strlen"}, {"libc.so", "strlen"}, {"libm", "pow"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        void* handle = LoadModule(row.name);
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(FindSymbol(handle, row.symbol), nullptr);
    }
    EXPECT_EQ(LoadModule("m"), LoadedModuleHandle("libm.so.6"));
    EXPECT_EQ(LoadedModuleHandle("no_such_library_qo"), nullptr);
}

// A candidate that is no loadable object (as the linker script libc.so of
// the C development files) does not end the search: the versioned soname
// beside it loads.
TEST(ModuleLoaderTest, ALinkerScriptGivesWayToTheVersionedSoname) {
    qotool::test::TempDir dir;
    dir.Write("libqolink.so", "/* GNU ld script */\nGROUP ( libm.so.6 )\n");
    dir.Write("libqolink.so.1", qotool::test::TempDir::Read(HighestVersionedLibrary("m")));
    for (const std::string& name : {dir.path() + "/libqolink", dir.path() + "/qolink", dir.path() + "/libqolink.so"}) {
        SCOPED_TRACE(name);
        void* handle = LoadModule(name.c_str());
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(FindSymbol(handle, "pow"), nullptr);
    }
}

TEST(ModuleLoaderTest, FailuresKeepTheLoadersReason) {
    CString reason;
    EXPECT_EQ(LoadModule("no_such_library_qo"), nullptr);
    int code = LastSystemError(reason);
    EXPECT_TRUE(IsModuleNotFound(code));
    EXPECT_NE(std::string(reason.view()).find("no_such_library_qo"), std::string::npos);
    EXPECT_EQ(SystemErrorText(code), "No such file or directory");

    char path[] = "/tmp/qo_not_elf_XXXXXX.so";
    int fd = mkstemps(path, 3);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "not a library\n", 14), 14);
    close(fd);
    EXPECT_EQ(LoadModule(path), nullptr);
    code = LastSystemError(reason);
    unlink(path);
    EXPECT_FALSE(IsModuleNotFound(code));
    EXPECT_NE(std::string(reason.view()).find(path), std::string::npos);
}

TEST(MemoryProbeTest, CopiesThroughUnknownAddressesFailInsteadOfFaulting) {
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    char* end = pages + 2 * page;
    memcpy(end - 8, "abc\0wxyz", 8);  // a text, then one that runs into the unmapped page
    ASSERT_EQ(mprotect(pages + page, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(pages + 2 * page, page, PROT_NONE), 0);
    char buf[8] = {};
    EXPECT_TRUE(TryWrite(pages, "abc", 4));
    EXPECT_TRUE(TryRead(buf, pages, 4));
    EXPECT_STREQ(buf, "abc");
    EXPECT_FALSE(TryWrite(pages + page, "x", 1));          // read-only
    EXPECT_TRUE(TryRead(buf, pages + page, 1));
    EXPECT_FALSE(TryRead(buf, pages + 2 * page - 2, 4));  // runs into the unmapped page
    EXPECT_FALSE(TryRead(buf, nullptr, 1));
    EXPECT_FALSE(TryWrite(reinterpret_cast<void*>(UINTPTR_MAX - 1), "ab", 4));
    EXPECT_TRUE(TryRead(buf, nullptr, 0));
    size_t length = 99;
    EXPECT_TRUE(ReadableStringLength(end - 8, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_FALSE(ReadableStringLength(end - 4, &length));
    EXPECT_FALSE(ReadableStringLength(nullptr, &length));
    EXPECT_TRUE(IsReadable(end - 10, 10));
    EXPECT_FALSE(IsReadable(end - 10, 11));
    EXPECT_FALSE(IsReadable(nullptr, 1));
    EXPECT_FALSE(TryStoreByte(end, 'x'));
    EXPECT_FALSE(TryStoreByte(end - 1, 'x'));  // read-only
    EXPECT_TRUE(TryStoreByte(pages, 'b'));
    EXPECT_EQ(pages[0], 'b');
    munmap(pages, 3 * page);
}

}  // namespace
