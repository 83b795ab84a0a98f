// libFuzzer target: every input is a scenario of the whole process.
#include <cstdio>
#include <cstdlib>

#include "property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* fault = scenario_fails(data, size)) {
        std::fprintf(stderr, "property fails: %s\n", fault);
        std::abort();
    }
    return 0;
}
