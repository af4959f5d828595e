// Cost of one variable-store access as the number of live variables grows.
// The cost per access must stay flat: names are found through the hash
// index, not by scanning the table. The "allocs" counter is the number of
// heap allocations per access (operator new, and malloc/realloc/calloc
// called by the library's code, which the build wraps).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>

#include "engine/run_context.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "qotool/qolanguage.h"

namespace {
std::atomic<long> g_allocations{0};
}

extern "C" {
void* __real_malloc(size_t size);
void* __real_realloc(void* p, size_t size);
void* __real_calloc(size_t n, size_t size);
void* __wrap_malloc(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_malloc(size);
}
void* __wrap_realloc(void* p, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_realloc(p, size);
}
void* __wrap_calloc(size_t n, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_calloc(n, size);
}
}

// operator new is counted here and takes its memory from the real malloc
// (uncounted, so each allocation counts once).
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = __real_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using qotool::engine::DoVariable;

// One interpreter per size, filled once: `count` live variables, the one
// accessed ("x", a number, and "s", a string) among them, and a few
// shadowing scopes on top so the lookup has real bounds to respect.
CQoLanguage* Interpreter(int count) {
    static std::map<int, std::unique_ptr<CQoLanguage>> interpreters;
    auto& slot = interpreters[count];
    if (slot) return slot.get();
    slot = std::make_unique<CQoLanguage>();
    CQoLanguage* qo = slot.get();
    char name[32];
    qo->m_cType = 'N';
    for (int i = 0; i < count - 2; ++i) {
        if (i == (count - 2) / 2) {
            qo->m_dValue = 1;
            DoVariable(qo, "x", 'N', 'B');
            qo->m_cType = 'S';
            qo->m_strValue = "text";
            DoVariable(qo, "s", 'S', 'B');
            qo->m_cType = 'N';
        }
        std::snprintf(name, sizeof name, "v%d", i);
        qo->m_dValue = i;
        DoVariable(qo, name, 'N', 'B');
    }
    if (count <= 2) {
        qo->m_dValue = 1;
        DoVariable(qo, "x", 'N', 'B');
        qo->m_cType = 'S';
        qo->m_strValue = "text";
        DoVariable(qo, "s", 'S', 'B');
    }
    return qo;
}

void Report(benchmark::State& state, long allocations) {
    state.counters["allocs"] =
        benchmark::Counter((double)allocations, benchmark::Counter::kAvgIterations);
}

void BM_ReadNumber(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    const long before = g_allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DoVariable(qo, "x", 0, 'B'));
        benchmark::DoNotOptimize(qo->m_dValue);
    }
    Report(state, g_allocations.load() - before);
}

void BM_ReadString(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    const long before = g_allocations.load();
    for (auto _ : state) benchmark::DoNotOptimize(DoVariable(qo, "s", 0, 'B'));
    Report(state, g_allocations.load() - before);
}

void BM_WriteNumber(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    double value = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        qo->m_cType = 'N';
        qo->m_dValue = value;
        value += 0.25;
        benchmark::DoNotOptimize(DoVariable(qo, "x", 'N', 'B'));
    }
    Report(state, g_allocations.load() - before);
}

void BM_Increment(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    const long before = g_allocations.load();
    for (auto _ : state) benchmark::DoNotOptimize(DoVariable(qo, "x", '+', 'B'));
    Report(state, g_allocations.load() - before);
}

// A block that declares one private variable, assigns it and ends: the
// entry is created and cut back every pass.
void BM_BlockLocal(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    const long before = g_allocations.load();
    for (auto _ : state) {
        const int saved = qo->m_nScopeLevel++;
        auto& table = qo->m_scopeTable;
        if ((int)table.size() < qo->m_nScopeLevel + 2) table.resize((size_t)qo->m_nScopeLevel + 2);
        table[(size_t)qo->m_nScopeLevel + 1] = table[(size_t)qo->m_nScopeLevel];
        DoVariable(qo, "i", 'z', 'B');
        qo->m_cType = 'N';
        qo->m_dValue = 1;
        DoVariable(qo, "i", 'N', 'B');
        qo->m_nScopeLevel = saved;
        qo->m_pVars->CutBack(table[(size_t)saved + 1].first, table[(size_t)saved + 1].second);
    }
    Report(state, g_allocations.load() - before);
}

void BM_ReadCell(benchmark::State& state) {
    CQoLanguage* qo = Interpreter((int)state.range(0));
    qo->m_cType = 'N';
    qo->m_dValue = 3;
    DoVariable(qo, "grid[7][9]", 'N', 'B');
    const long before = g_allocations.load();
    for (auto _ : state) benchmark::DoNotOptimize(DoVariable(qo, "grid[7][9]", 0, 'B'));
    Report(state, g_allocations.load() - before);
}

}  // namespace

BENCHMARK(BM_ReadNumber)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ReadString)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_WriteNumber)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Increment)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_BlockLocal)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ReadCell)->Arg(10)->Arg(1000)->Arg(100000);

BENCHMARK_MAIN();
