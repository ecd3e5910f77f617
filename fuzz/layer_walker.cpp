// Layer records one after another, as the printer reads them: the count is
// checked before anything is read, the code never writes past the frame, and
// on small layers the decoder agrees with a value-by-value reference.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "print/layer_code.h"

namespace {

constexpr uint32_t kCapacity = 4096;  // a small layer buffer, as a file may ask
constexpr size_t kCompared = 1 << 16;

std::vector<uint8_t>& frame() {
    static std::vector<uint8_t> f(FRAME_BYTES);
    return f;
}

// Value by value, no shortcuts: what the decoder must do.
LayerCodeCheck reference(const uint8_t* code, size_t n, std::vector<uint8_t>& out) {
    LayerCodeCheck check;
    uint64_t length = code[0] & 0x0F;
    uint8_t level = code[0] >> 4;
    auto emit = [&]() {
        if (check.values + length > FRAME_BYTES) return false;
        for (uint64_t k = 0; k < length; ++k, ++check.values) {
            const uint64_t i = check.values;
            if (i / 3 * 3 + 2 < out.size())
                out[i / 3 * 3 + 2 - i % 3] = static_cast<uint8_t>(level * 17);
        }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (size - at >= 4) {
        uint32_t n;
        memcpy(&n, data + at, 4);
        at += 4;
        if (n == 0 || n > LAYER_CODE_MAX || n > kCapacity || n > size - at) return 0;
        const uint8_t* code = data + at;
        at += n;

        const LayerCodeCheck check = checkLayerCode(code, n);
        std::vector<uint8_t> want(kCompared + 3, 0);
        const LayerCodeCheck ref = reference(code, n, want);
        if (check.result != ref.result || check.values != ref.values) __builtin_trap();
        if (check.result == LAYER_DONE && check.values <= kCompared) {
            memset(frame().data(), 0, kCompared + 3);
            if (decodeLayer(code, n, frame().data()) != LAYER_DONE) __builtin_trap();
            if (memcmp(frame().data(), want.data(), want.size()) != 0) __builtin_trap();
        } else if (decodeLayer(code, n, frame().data()) != check.result) {
            __builtin_trap();
        }
    }
    return 0;
}
