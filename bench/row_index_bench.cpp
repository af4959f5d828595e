// Row index: the cost of one FindRow must stay nearly flat from 1 000 to
// 1 000 000 rows (one bucket of 256 is searched, a byte per row of that
// bucket, and texts are compared only on a signature hit); building the
// index is linear; a refresh moves one entry.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qotool/array_index.h"

namespace {

// Row texts, every tenth one a repeat of the row before, indexed once per
// size and kind. Kind 0: four GB2312 characters drawn from a mixed row
// number (word sums spread over the 65 536 bucket/signature pairs). Kind 1: "item-<n>", sequential
// ids, whose word sums crowd into a few hundred pairs under the additive
// hash, so that a find compares many texts: the worst case of the layout.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct Rows {
    Rows(int count, int kind) {
        texts.reserve((size_t)count);
        for (int i = 0; i < count; ++i) {
            const int n = i % 10 == 9 ? i - 1 : i;
            char text[32];
            if (kind == 0) {
                // Four GB2312 characters, like a short Chinese name.
                uint64_t bits = Mix((uint64_t)n);
                for (int k = 0; k < 4; ++k) {
                    text[2 * k] = (char)(0xB0 + bits % 72);
                    bits /= 72;
                    text[2 * k + 1] = (char)(0xA1 + bits % 94);
                    bits /= 94;
                }
                text[8] = 0;
            } else {
                std::snprintf(text, sizeof text, "item-%d", n);
            }
            texts.emplace_back(text);
        }
        for (const auto& t : texts) pointers.push_back(t.c_str());
        index.SetWorkArea(count, pointers.data());
        index.SetIndex(count);
    }
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
    qoArrayIndex index;
};

Rows& RowsOf(int count, int kind = 0) {
    static std::map<std::pair<int, int>, std::unique_ptr<Rows>> tables;
    auto& rows = tables[{count, kind}];
    if (!rows) rows = std::make_unique<Rows>(count, kind);
    return *rows;
}

void BM_FindRow(benchmark::State& state) {
    Rows& rows = RowsOf((int)state.range(0), (int)state.range(1));
    const int count = (int)state.range(0);
    int i = 0;
    for (auto _ : state) {
        const int* found = rows.index.FindRow(rows.texts[(size_t)i].c_str(), 0, false);
        benchmark::DoNotOptimize(found[0]);
        i = (i + 7919) % count;
    }
}

void BM_FindMissing(benchmark::State& state) {
    Rows& rows = RowsOf((int)state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(rows.index.FindRow("no such row", 0, false)[0]);
}

void BM_SetIndex(benchmark::State& state) {
    Rows& rows = RowsOf((int)state.range(0));
    for (auto _ : state) rows.index.SetIndex((int)state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_RefreshRow(benchmark::State& state) {
    Rows& rows = RowsOf((int)state.range(0));
    const int count = (int)state.range(0);
    int i = 0;
    for (auto _ : state) {
        // Two texts per row taken in turn, so each refresh moves an entry
        // between buckets and back.
        const std::string& text = rows.texts[(size_t)((i + 1) % count)];
        benchmark::DoNotOptimize(rows.index.RefreshRow(i, text.c_str()));
        benchmark::DoNotOptimize(rows.index.RefreshRow(i, rows.texts[(size_t)i].c_str()));
        i = (i + 7919) % count;
    }
}

}  // namespace

BENCHMARK(BM_FindRow)->ArgsProduct({{1000, 100000, 1000000}, {0, 1}});
BENCHMARK(BM_FindMissing)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_SetIndex)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshRow)->Arg(1000)->Arg(1000000);
