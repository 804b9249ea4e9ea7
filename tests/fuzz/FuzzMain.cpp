// The libFuzzer entry of one harness; QX_FUZZ_FUNCTION names it (one program per harness).
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

void QxFuzzFail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
    std::abort(); // libFuzzer saves the input as a crash
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return QX_FUZZ_FUNCTION(data, size);
}
