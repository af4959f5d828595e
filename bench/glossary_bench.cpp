// Glossary lookups must not depend on the glossary's size: a glossary of
// 10 000 entries (two languages, every tenth with items) is loaded from a
// file, then 100 000 ruqo_Gt lookups of entries and items run per
// iteration. Targets: a load under 50 ms, the lookups under 0.2 s.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qotool/host.h"

namespace {

constexpr int kEntries = 10000;
constexpr int kLookups = 100000;

const std::string& GlossaryFile() {
    static const std::string path = [] {
        char name[] = "/tmp/qotool_glossary_bench_XXXXXX";
        const int fd = mkstemp(name);
        std::string text = "[S:Language]\r\nEnglish;Other\r\n";
        for (int i = 0; i < kEntries; ++i) {
            text += "[KEY" + std::to_string(i) + "]\r\n  Text number " + std::to_string(i) + "  \r\n";
            text += "\t\xCE\xC4\xB1\xBE " + std::to_string(i) + "\r\n";
            if (i % 10 == 0) text += ";w=" + std::to_string(i) + "\r\n;h=20\r\n";
        }
        (void)!write(fd, text.data(), text.size());
        close(fd);
        static std::string made = name;
        std::atexit([] { unlink(made.c_str()); });
        return made;
    }();
    return path;
}

void BM_GlossaryLoad10000(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ruqo_Gtc("F", GlossaryFile().c_str()));
}
BENCHMARK(BM_GlossaryLoad10000)->Unit(benchmark::kMillisecond);

void BM_Glossary100000Lookups(benchmark::State& state) {
    ruqo_Gtc("F", GlossaryFile().c_str());
    std::vector<std::string> keys;
    for (int i = 0; i < 1000; ++i) {
        const int n = (i * 7919) % kEntries;
        keys.push_back(i % 5 == 0 ? "KEY" + std::to_string(n - n % 10) + ".w" : "KEY" + std::to_string(n));
    }
    for (auto _ : state)
        for (int i = 0; i < kLookups; ++i) benchmark::DoNotOptimize(ruqo_Gt(keys[(size_t)i % keys.size()].c_str()));
}
BENCHMARK(BM_Glossary100000Lookups)->Unit(benchmark::kMillisecond);

}  // namespace
