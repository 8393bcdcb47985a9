// libFuzzer entry; FUZZ_TARGET names the function of FuzzTargets.h to drive.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarnflow::fuzz::FUZZ_TARGET(data, size);
    return 0;
}
