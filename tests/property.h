// The property that holds in every scenario, decoded from arbitrary bytes:
// for the fixed-seed test and for the libFuzzer target alike.
#pragma once

#include <cstddef>
#include <cstdint>

// nullptr when the scenario ran as it must, or what went wrong.
const char* scenario_fails(const std::uint8_t* data, std::size_t size);
