// Cost of the message log: 10 000 trace records (mode 8, file logging on,
// no flush) against writing the same bytes with a buffered FILE* loop. The
// log must stay within 2x of the loop: a record is one format and one
// buffered write.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "diag/message_log.h"
#include "diag/platform_record.h"
#include "qotool/qotool.h"

namespace {

constexpr int kRecords = 10000;
const char kText[] = "变量 a 的值改为 42;";

std::string TempDirectory() {
    char pattern[] = "/tmp/qolog-bench-XXXXXX";
    return mkdtemp(pattern) ? std::string(pattern) + "/" : std::string("/tmp/");
}

void BM_MessageLog10000Records(benchmark::State& state) {
    const std::string dir = TempDirectory();
    qotool::diag::PlatformRecord& record = *qotool::diag::Platform();
    const uint32_t mask = record.logMask;
    for (auto _ : state) {
        state.PauseTiming();
        qotool::diag::ResetMessageLogForTest();
        // An existing log file would switch on flushing every record.
        for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove(entry.path());
        record.workDirectory = dir;
        record.logMask = 0x40;
        state.ResumeTiming();
        for (int i = 0; i < kRecords; ++i) ruqo_MessageLog(0, 8, kText, "x", "");
        qotool::diag::CloseMessageLog();
    }
    qotool::diag::ResetMessageLogForTest();
    record.logMask = mask;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MessageLog10000Records)->Unit(benchmark::kMillisecond);

// The same bytes per record ("【n】" column "[t(d)t]\r\n" text "\r\n").
void BM_BufferedFileLoop10000Records(benchmark::State& state) {
    const std::string dir = TempDirectory();
    const std::string path = dir + "loop.txt";
    for (auto _ : state) {
        FILE* f = fopen(path.c_str(), "wb");
        for (int i = 1; i <= kRecords; ++i)
            fprintf(f, "【%d】%-16.16s[%ld(%d)%ld%s]\r\n%s\r\nx\r\n", i, "中间结果", 0L, 0, 0L, "", kText);
        fclose(f);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_BufferedFileLoop10000Records)->Unit(benchmark::kMillisecond);

}  // namespace
