#include "print/layer_code.h"

#include <cstring>

namespace {

// Walks the runs of `code`, handing each (length, value) to `emit`, which
// returns false to refuse it. A single run longer than the frame is refused
// as soon as its digits say so.
template <class Emit>
int walkRuns(const uint8_t* code, size_t n, Emit&& emit) {
    if (n == 0) return LAYER_DONE;
    uint8_t current = code[0] >> 4;
    uint32_t length = code[0] & 0x0F;
    for (size_t i = 1; i < n; ++i) {
        const uint8_t b = code[i];
        if ((b >> 4) == current) {
            length = length * 16 + (b & 0x0F);
            if (length > FRAME_BYTES) return LAYER_RUN_TOO_LONG;
            continue;
        }
        if (!emit(length, static_cast<uint8_t>(current * 17))) return LAYER_RUN_TOO_LONG;
        current = b >> 4;
        length = b & 0x0F;
    }
    return emit(length, static_cast<uint8_t>(current * 17)) ? LAYER_DONE : LAYER_RUN_TOO_LONG;
}

}  // namespace

int decodeLayer(const uint8_t* code, size_t n, uint8_t* frame) {
    uint32_t pos = 0;  // next value; its byte is pos / 3 * 3 + 2 - pos % 3
    return walkRuns(code, n, [&](uint32_t length, uint8_t value) {
        if (length > FRAME_BYTES - pos) return false;
        // Values of one run are all equal, so whole pixels are one memset;
        // only the partial pixels at either end need the reversed order.
        while (length > 0 && pos % 3 != 0) {
            frame[pos / 3 * 3 + 2 - pos % 3] = value;
            ++pos;
            --length;
        }
        const uint32_t whole = length / 3 * 3;
        memset(frame + pos, value, whole);
        pos += whole;
        length -= whole;
        for (; length > 0; --length, ++pos) frame[pos / 3 * 3 + 2 - pos % 3] = value;
        return true;
    });
}

LayerCodeCheck checkLayerCode(const uint8_t* code, size_t n) {
    LayerCodeCheck check;
    check.result = walkRuns(code, n, [&](uint32_t length, uint8_t) {
        if (check.values + length > FRAME_BYTES) return false;
        check.values += length;
        ++check.runs;
        return true;
    });
    return check;
}

std::vector<uint8_t> encodeLayer(const uint8_t* levels, size_t count) {
    std::vector<uint8_t> out;
    out.reserve(1024);
    size_t i = 0;
    while (i < count) {
        const uint8_t level = levels[i] & 0x0F;
        size_t j = i + 1;
        while (j < count && (levels[j] & 0x0F) == level) ++j;
        uint64_t length = j - i;
        int digits = 1;
        while (digits < 16 && (length >> (4 * digits)) != 0) ++digits;
        for (int d = digits - 1; d >= 0; --d) {
            out.push_back(static_cast<uint8_t>(level << 4 | ((length >> (4 * d)) & 0x0F)));
        }
        i = j;
    }
    return out;
}
