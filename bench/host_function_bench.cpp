// A call of a host function against a call of a built-in, each in a loop
// of 10 000 calls written as a script would write it, with 1 to 1 000 host
// functions registered on the interpreter.
#include <benchmark/benchmark.h>

#include <string>

#include "qotool/qotool.h"

namespace {

int Plus1(QoInterp*, int argc, const QoValue* argv, QoValue* result, void*) {
    *result = ruqo_ValueNumber(argc > 0 ? argv[0].number + 1 : 0);
    return QO_OK;
}

void Run(benchmark::State& state, const char* loop) {
    QoInterp* qo = ruqo_CreateInterp();
    for (int i = 0; i < state.range(0); ++i)
        ruqo_RegisterFunction(qo, ("f" + std::to_string(i)).c_str(), Plus1, nullptr, nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(ruqo_Eval(qo, loop, -1, nullptr));
    state.SetItemsProcessed(state.iterations() * 10000);  // calls
    ruqo_FreeInterp(qo);
}

void BM_HostFunctionCall(benchmark::State& state) {
    Run(state, "s = 0; for (i = 0; i < 10000; i++) s = s + f0(i); s");
}
void BM_BuiltinCall(benchmark::State& state) {
    Run(state, "s = 0; for (i = 0; i < 10000; i++) s = s + abs(i); s");
}
BENCHMARK(BM_HostFunctionCall)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuiltinCall)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
