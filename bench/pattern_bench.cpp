// Cost of fuzzy pattern matching: 100 000 matches of a mix of patterns
// against 1 000 GBK rows per iteration. bench/scripts/pattern_match.py runs
// the same rows and the same patterns (as regular expressions) in Python
// for scale. Narrow literals are GBK.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "qotool/textutil.h"
#include "textutil/pattern_match.h"

namespace {

constexpr int kRows = 1000;
constexpr int kMatches = 100000;

// The same rows as the Python script: name, code and number, city.
const std::vector<std::string>& Rows() {
    static const std::vector<std::string> rows = [] {
        const char* surnames[] = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄"};
        const char* given[] = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊"};
        const char* codes[] = {"AB", "CX", "ZZ", "QOL", "DB"};
        std::vector<std::string> out;
        for (int i = 0; i < kRows; ++i) {
            std::string row = surnames[i % 8];
            row += given[(i / 8) % 8];
            row += given[(i / 3) % 8];
            row += " ";
            row += codes[i % 5];
            row += "-" + std::to_string(1000 + (i * 37) % 9000);
            row += i % 4 == 0 ? " 北京" : " 上海";
            out.push_back(row);
        }
        return out;
    }();
    return rows;
}

// Wildcards, digit classes, alternatives, negation and case folding; the
// Python script has the equivalent regular expressions.
const char* const kMixed[] = {
    "*北京", "张*", "??? AB-%*", "*-1###*", "*QOL*;*DB*", "!李*", "*cx-%*", "王?? ZZ-#### 上海",
};
// Letters matching Chinese characters by their initials (no Python twin).
const char* const kInitials[] = {"zw*", "w?? *", "*bj", "l*sh", "hqq*;cf*"};

template <size_t N>
void MatchRows(benchmark::State& state, const char* const (&patterns)[N]) {
    const std::vector<std::string>& rows = Rows();
    ruqo_StrMatch("x /", "x", 1);  // every option on
    long hits = 0;
    for (auto _ : state) {
        for (int k = 0; k < kMatches; ++k)
            hits += ruqo_StrMatch(patterns[k % N], rows[(size_t)k % rows.size()].c_str(), 1) >= 0;
    }
    state.SetItemsProcessed(state.iterations() * kMatches);
    state.counters["hit%"] = 100.0 * (double)hits / ((double)state.iterations() * kMatches);
}

void BM_StrMatchMixed(benchmark::State& state) { MatchRows(state, kMixed); }

// The matcher alone: the library's own entry for texts already in hand,
// without the address probes that guard the exported function.
void BM_MatchPatternMixed(benchmark::State& state) {
    const std::vector<std::string>& rows = Rows();
    constexpr int kPatterns = sizeof kMixed / sizeof kMixed[0];
    size_t lengths[kPatterns];
    for (int i = 0; i < kPatterns; ++i) lengths[i] = strlen(kMixed[i]);
    ruqo_StrMatch("x /", "x", 1);
    for (auto _ : state) {
        for (int k = 0; k < kMatches; ++k) {
            const std::string& row = rows[(size_t)k % rows.size()];
            benchmark::DoNotOptimize(qotool::textutil::MatchPattern(kMixed[k % kPatterns], lengths[k % kPatterns],
                                                                   row.data(), row.size(), 1));
        }
    }
    state.SetItemsProcessed(state.iterations() * kMatches);
}
void BM_StrMatchInitials(benchmark::State& state) { MatchRows(state, kInitials); }

// The same 100 000 row matches through ruqo_ArrayMatch: 100 calls of 1 000
// rows (the rows have no trailing spaces, so nothing is rewritten).
void BM_ArrayMatchMixed(benchmark::State& state) {
    std::vector<std::string> rows = Rows();
    std::vector<char*> pointers;
    for (std::string& row : rows) pointers.push_back(row.data());
    constexpr int kPatterns = sizeof kMixed / sizeof kMixed[0];
    ruqo_StrMatch("x /", "x", 1);
    for (auto _ : state) {
        for (int k = 0; k < kMatches / kRows; ++k)
            benchmark::DoNotOptimize(ruqo_ArrayMatch(kMixed[k % kPatterns], pointers.data(), kRows, 0));
    }
    state.SetItemsProcessed(state.iterations() * kMatches);
}

}  // namespace

BENCHMARK(BM_StrMatchMixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchPatternMixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrMatchInitials)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayMatchMixed)->Unit(benchmark::kMillisecond);
