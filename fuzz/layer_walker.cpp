// Layer records one after another, as the printer reads them: the count is
// checked before anything is read, the code never writes past the frame, and
// the decoder agrees with a value-by-value reference.
//
// Only layers that stay within the first kCompared values are decoded onto
// the frame: a long run would make every execution a 24.9 MB write and the
// run would reach a few hundred inputs a second. Their checks are still held
// against the reference; the long writes are the unit tests' to cover.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "firmware/print/layer_code.h"
#include "layer_reference.h"

namespace {

constexpr uint32_t kCapacity = 4096;  // a small layer buffer, as a file may ask
constexpr size_t kCompared = 1 << 16;

std::vector<uint8_t>& frame() {
    static std::vector<uint8_t> f(FRAME_BYTES);
    return f;
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
        const LayerCodeCheck ref = fuzz_model::referenceDecode(code, n, want);
        if (check.result != ref.result || check.values != ref.values || check.runs != ref.runs) {
            __builtin_trap();
        }
        if (check.values > kCompared) continue;
        memset(frame().data(), 0, kCompared + 3);
        if (decodeLayer(code, n, frame().data()) != check.result) __builtin_trap();
        if (check.result == LAYER_DONE && memcmp(frame().data(), want.data(), want.size()) != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
