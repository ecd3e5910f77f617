// The mask frame and the run-length coding of one layer image.
//
// A layer image is 24,883,200 grey values (6480 per line, 3840 lines); value i
// lands in pixel i / 3 at byte 2 - i % 3. A code byte holds a grey level in
// its high nibble and four bits of a run length in its low nibble; bytes with
// the same high nibble form one run whose length is their low nibbles, most
// significant first. Level g is written as g * 17.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t FRAME_WIDTH = 2160;   // pixels per line
constexpr uint32_t FRAME_HEIGHT = 3840;  // lines
constexpr uint32_t FRAME_LINE_BYTES = FRAME_WIDTH * 3;
constexpr uint32_t FRAME_BYTES = FRAME_LINE_BYTES * FRAME_HEIGHT;  // 24,883,200
// The largest byte count a layer record may give.
constexpr uint32_t LAYER_CODE_MAX = FRAME_BYTES - 1;

enum : int {
    LAYER_DONE = 1,
    LAYER_BAD_COUNT = 2,
    LAYER_COUNT_UNREADABLE = 3,
    LAYER_NO_FRAME = 5,
    LAYER_RUN_TOO_LONG = 7,
};

// What a layer's code does to the frame, without writing it.
struct LayerCodeCheck {
    int result = LAYER_DONE;  // LAYER_DONE or LAYER_RUN_TOO_LONG
    uint64_t values = 0;      // values the runs cover (up to the refusal)
    uint32_t runs = 0;
};

// Decodes `n` code bytes onto `frame` (FRAME_BYTES long) from its first byte.
// LAYER_DONE, or LAYER_RUN_TOO_LONG when one run exceeds the frame or the runs
// together pass its end; what was written before the refusal stays.
int decodeLayer(const uint8_t* code, size_t n, uint8_t* frame);

// The ways decodeLayer has of decoding, each for one instruction set, the
// portable one first, then those this machine can run: decodeLayer takes the
// last. For tests that hold them to one another.
struct LayerDecoder {
    const char* name;
    int (*decode)(const uint8_t* code, size_t n, uint8_t* frame);
};
std::vector<LayerDecoder> layerDecoders();
// Whether this CPU has the 64-byte vector instructions the wide decoder
// needs (AVX-512 F, BW, VL, VBMI, VBMI2); other wide code asks the same.
bool hasWideVectors();

// Walks the code as decodeLayer would and reports what it covers.
LayerCodeCheck checkLayerCode(const uint8_t* code, size_t n);

// Grey value to level: the nearest g with g * 17 closest to `value`.
constexpr uint8_t greyLevel(uint8_t value) {
    return static_cast<uint8_t>((value + 8) / 17);
}

// The shortest code of `count` values, each a level 0..15: runs of equal
// levels, each in as few nibbles as its length needs.
std::vector<uint8_t> encodeLayer(const uint8_t* levels, size_t count);
