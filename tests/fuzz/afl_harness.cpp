// AFL++ persistent-mode harness: each input arrives in shared memory and
// runs through RunFuzzInput in the same process, 10 000 inputs per fork.
// Built only when the compiler is afl-g++ (see CMakeLists.txt).
#include <dlfcn.h>
#include <unistd.h>  // read(), which __AFL_FUZZ_TESTCASE_LEN falls back to

#include <cstdint>
#include <vector>

#include "fuzz_targets.h"

__AFL_FUZZ_INIT();

// afl-g++'s classic (assembler) instrumentation and the runtime that gives
// persistent mode (afl-compiler-rt.o) each know a coverage map pointer. The
// classic code takes __afl_global_area_ptr when it is set before its first
// block runs, and then starts no fork server of its own; the runtime maps
// the shared memory in its constructor of priority 3. This constructor
// passes the map on right after. It lives in a section the assembler pass
// does not instrument (it instruments .text only), and it finds the
// runtime's pointer through dlsym (the harness exports its symbols), since
// in this file the name means the instrumentation's own local copy.
extern "C" {
extern unsigned char* __afl_global_area_ptr;
}
__attribute__((constructor(6), section("qo_afl_glue"))) static void ShareCoverageMap() {
    auto area = (unsigned char**)dlsym(RTLD_DEFAULT, "__afl_area_ptr");
    if (area) __afl_global_area_ptr = *area;
}

int main() {
    qotool::fuzz::InitFuzzing();
    __AFL_INIT();
    const unsigned char* buffer = __AFL_FUZZ_TESTCASE_BUF;
    std::vector<uint8_t> input;
    while (__AFL_LOOP(10000)) {
        const size_t size = __AFL_FUZZ_TESTCASE_LEN;
        input.assign(buffer, buffer + size);  // the target may not keep pointers into AFL's buffer
        qotool::fuzz::RunFuzzInput(input.data(), input.size());
    }
    return 0;
}
