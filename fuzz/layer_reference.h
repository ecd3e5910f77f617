// A layer decoder written value by value, with no shortcuts: what the
// firmware's decoder must do. It writes the values that land in `out` (the
// start of a frame) and only counts the rest, so a long layer costs no more
// than a short one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/print/layer_code.h"

namespace fuzz_model {

inline LayerCodeCheck referenceDecode(const uint8_t* code, size_t n, std::vector<uint8_t>& out) {
    LayerCodeCheck check;
    if (n == 0) return check;
    uint64_t length = code[0] & 0x0F;
    uint8_t level = code[0] >> 4;
    auto emit = [&]() {
        if (check.values + length > FRAME_BYTES) return false;
        // Value i goes to byte i / 3 * 3 + 2 - i % 3, never more than two
        // away from i.
        const uint64_t end = check.values + length;
        for (uint64_t i = check.values; i < end && i < out.size() + 2; ++i) {
            const uint64_t at = i / 3 * 3 + 2 - i % 3;
            if (at < out.size()) out[at] = static_cast<uint8_t>(level * 17);
        }
        check.values = end;
        ++check.runs;
        return true;
    };
    for (size_t i = 1; i < n; ++i) {
        if ((code[i] >> 4) == level) {
            length = length * 16 + (code[i] & 0x0F);
            if (length > FRAME_BYTES) return check.result = LAYER_RUN_TOO_LONG, check;
            continue;
        }
        if (!emit()) return check.result = LAYER_RUN_TOO_LONG, check;
        level = code[i] >> 4;
        length = code[i] & 0x0F;
    }
    if (!emit()) check.result = LAYER_RUN_TOO_LONG;
    return check;
}

}  // namespace fuzz_model
