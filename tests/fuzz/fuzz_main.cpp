// The libFuzzer entry of one target, chosen when the program is built.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"

namespace {

const chm::fuzz::FuzzTarget* target = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    target = chm::fuzz::FindFuzzTarget(CHM_FUZZ_TARGET_NAME);
    if (!target) {
        std::fprintf(stderr, "no fuzz target named %s\n", CHM_FUZZ_TARGET_NAME);
        std::exit(2);
    }
    chm::fuzz::FuzzWorkspace::Instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    target->run(std::span<const uint8_t>(data, size));
    return 0;
}
