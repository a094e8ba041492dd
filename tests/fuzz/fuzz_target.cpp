// One libFuzzer target: the build names the check it runs (QV_FUZZ_CHECK), so every reader is
// fuzzed against exactly what its regression corpus is replayed against.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!qv::QV_FUZZ_CHECK({data, size})) {
        __builtin_trap();
    }
    return 0;
}
