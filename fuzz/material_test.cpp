// The material-test file on any bytes: accepted values are in their ranges
// and the estimate is defined.
#include <cstddef>
#include <cstdint>

#include "firmware/print/material_test.h"
#include "firmware/print/print.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (parseMaterialTest(reinterpret_cast<const char*>(data), size) != 1) return 0;
    const MaterialTest& m = materialtest;
    if (m.start_time < 0 || m.end_time > 200000 || m.end_time < m.start_time) __builtin_trap();
    if (m.bottom_layer == 0 || m.total_layers == 0 || m.first_speed == 0 || m.speed2 == 0 ||
        m.back_speed == 0 || m.bottom_time < 1)
        __builtin_trap();
    if (file_information.print_times != materialTestTime(m)) __builtin_trap();
    return 0;
}
