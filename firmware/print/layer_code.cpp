#include "print/layer_code.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// Decoding writes every value of the frame, which on the board is device
// memory, slow to read back: it is never read, only written.
//
// Short runs are gathered in value order in a small buffer, which goes to
// the frame in blocks with each pixel's bytes reversed. Long runs go to the
// frame directly as whole pixels, after the buffer.
//
// The code is read a chunk at a time. A stretch of one-digit runs, as busy
// layers are made of, takes one store per run and no branch. Other chunks are
// first scanned by a loop the compiler vectorises, which finds where runs end
// and how long they are; then each byte takes the same few stores and only
// long runs branch off.
//
// The loop is compiled twice: with 16-byte stores everywhere, and with
// 64-byte vectors for the machines the simulator runs on that have them.
// Either writes the same frame; decodeLayer takes the wider one it can run.

// The reversing copy's unit: 16 pixels.
constexpr uint32_t kBlock = 48;
// Values gathered before the buffer goes out: whole blocks.
constexpr uint32_t kStage = 64 * kBlock;
// Set for each instruction set below:
// - kShort: runs up to this long take fillShort() in scanned chunks, the
//   same stores for every byte: storing more bytes than most runs need costs
//   less than branching on their length.
// - kLong: runs this long or longer go to the frame directly. The buffer
//   goes out before such a run in whole blocks, which may reach up to a block
//   into the run's whole pixels (written over next), so there must be that
//   many, and the stores that fill them need 64.

// Whole pixels of a run from this many bytes on go to memset, faster for
// them than stores in line.
constexpr uint32_t kMemset = 16384;
// Code bytes checked at a time for runs of one digit each.
constexpr uint32_t kBatch = 64;
// Code bytes scanned at a time otherwise.
constexpr uint32_t kChunk = 256;
static_assert(kStage % kBlock == 0 && kBlock % 3 == 0);
static_assert(kChunk >= kBatch);

// For each code byte, its level's value 16 times: a run of up to 16 values is
// one store, which may pass the run's end; the next run overwrites the excess.
struct Splats {
    alignas(16) uint8_t v[256][16];
};
constexpr Splats makeSplats() {
    Splats s{};
    for (int b = 0; b < 256; ++b) {
        for (int j = 0; j < 16; ++j) s.v[b][j] = static_cast<uint8_t>((b >> 4) * 17);
    }
    return s;
}
constexpr Splats kSplat = makeSplats();

// Whether two code bytes have the same level.
uint32_t sameLevel(uint8_t a, uint8_t b) {
    return ((a ^ b) & 0xF0) == 0;
}

// What each byte of a chunk does: `advance` is the run's length where the
// byte is its last digit, else 0; `special` is kRunEnd at the last digit of a
// run longer than kShort, and has kLongDigits from the fourth digit of a run
// on (the scan reads three).
constexpr uint8_t kRunEnd = 2;
constexpr uint8_t kLongDigits = 1;
struct Chunk {
    alignas(16) uint16_t advance[kChunk];
    alignas(16) uint8_t special[kChunk];
};

namespace portable {

// Byte j of a block of pixels in frame order comes from value j + 2, j or
// j - 2 of the same block (by j % 3): three shifted loads, each masked.
struct Masks {
    alignas(16) uint8_t next[kBlock], same[kBlock], prev[kBlock];
};
constexpr Masks makeMasks() {
    Masks m{};
    for (uint32_t j = 0; j < kBlock; ++j) {
        m.next[j] = j % 3 == 0 ? 0xFF : 0;
        m.same[j] = j % 3 == 1 ? 0xFF : 0;
        m.prev[j] = j % 3 == 2 ? 0xFF : 0;
    }
    return m;
}
constexpr Masks kMask = makeMasks();

// Sixteen bytes of a block from `At` on: a loop the compiler turns into one
// vector operation with the masks in registers.
template <uint32_t At>
void reverse16(uint8_t* __restrict dst, const uint8_t* __restrict src) {
    const uint8_t* next = src + 2;
    const uint8_t* prev = src - 2;
    for (uint32_t j = At; j < At + 16; ++j) {
        dst[j] = static_cast<uint8_t>((next[j] & kMask.next[j]) | (src[j] & kMask.same[j]) |
                                      (prev[j] & kMask.prev[j]));
    }
}

// `blocks` blocks from value order to frame order. `src` may be read two
// bytes before and after; the masks drop those.
void reverseBlocks(uint8_t* __restrict dst, const uint8_t* __restrict src, uint32_t blocks,
                   uint32_t /*spare*/ = 0) {
    for (uint32_t b = 0; b < blocks; ++b, dst += kBlock, src += kBlock) {
        reverse16<0>(dst, src);
        reverse16<16>(dst, src);
        reverse16<32>(dst, src);
    }
}

// Whether each of the kBatch code bytes from `p` is a run of its own: each
// has a level other than the byte before it (p[-1] included) and p[kBatch-1]
// than p[kBatch].
bool singleDigits(const uint8_t* p) {
    uint8_t least = static_cast<uint8_t>((p[kBatch - 1] ^ p[kBatch]) & 0xF0);
    for (uint32_t j = 0; j < kBatch; ++j) {
        least = std::min(least, static_cast<uint8_t>(((p - 1)[j] ^ p[j]) & 0xF0));
    }
    return least != 0;
}

// Appends the kBatch one-digit runs from `p` at `q`, one store each.
uint8_t* fillSingleDigits(uint8_t* q, const uint8_t* p) {
    for (uint32_t j = 0; j < kBatch; j += 4) {
        uint32_t w;  // four code bytes in one load
        memcpy(&w, p + j, 4);
        if constexpr (std::endian::native == std::endian::big) {
            w = w >> 24 | (w >> 8 & 0xFF00) | (w << 8 & 0xFF0000) | w << 24;
        }
        const uint8_t b0 = static_cast<uint8_t>(w);
        const uint8_t b1 = static_cast<uint8_t>(w >> 8);
        const uint8_t b2 = static_cast<uint8_t>(w >> 16);
        const uint8_t b3 = static_cast<uint8_t>(w >> 24);
        memcpy(q, kSplat.v[b0], 16);
        q += b0 & 0x0F;
        memcpy(q, kSplat.v[b1], 16);
        q += b1 & 0x0F;
        memcpy(q, kSplat.v[b2], 16);
        q += b2 & 0x0F;
        memcpy(q, kSplat.v[b3], 16);
        q += b3 & 0x0F;
    }
    return q;
}

// 64 bytes of one value, from the 16 at `splat`.
void fill64(uint8_t* p, const uint8_t* splat) {
    memcpy(p, splat, 16);
    memcpy(p + 16, splat, 16);
    memcpy(p + 32, splat, 16);
    memcpy(p + 48, splat, 16);
}

constexpr uint32_t kShort = 64;
constexpr uint32_t kLong = 68;

void fillShort(uint8_t* p, const uint8_t* splat) {
    fill64(p, splat);
}

// A run shorter than kLong into the buffer: kLong bytes of its value.
void gatherRun(uint8_t* q, const uint8_t* splat) {
    for (uint32_t j = 0; j < kLong; j += 16) memcpy(q + j, splat, 16);
}

#include "print/layer_decode_loop.h"

}  // namespace portable

#if defined(__x86_64__)
// The same loop with 64-byte vectors: byte permutes and compressing stores do
// in one instruction what the portable code spends a dozen on.
#if defined(__clang__)
#pragma clang attribute push(                                                           \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,popcnt"))), \
    apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,popcnt")
// GCC takes the intrinsics' deliberately undefined starting values for
// uninitialised ones.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace wide {

// Four blocks, 192 values, go out as three full vectors: vector k takes the
// values from 64k - 2 to 64k + 66 of the group, from two loads that overlap.
struct FrameOrder {
    alignas(64) uint8_t group[3][64];  // a two-source permute's lanes
    alignas(64) uint8_t block[64];     // one block, for what is left over
};
constexpr FrameOrder makeFrameOrder() {
    FrameOrder o{};
    for (uint32_t k = 0; k < 3; ++k) {
        for (uint32_t j = 0; j < 64; ++j) {
            const uint32_t at = 64 * k + j;
            const uint32_t from = at / 3 * 3 + 2 - at % 3 + 2 - 64 * k;  // from value 64k - 2
            o.group[k][j] = static_cast<uint8_t>(from < 64 ? from : 64 | (from - 4));
        }
    }
    for (uint32_t j = 0; j < kBlock; ++j) o.block[j] = static_cast<uint8_t>(j / 3 * 3 + 2 - j % 3);
    return o;
}
constexpr FrameOrder kFrameOrder = makeFrameOrder();
constexpr __mmask64 kBlockBytes = (uint64_t{1} << kBlock) - 1;
static_assert(4 * kBlock == 192);

// `spare` bytes after the last block may be written over: with 16, no block
// needs a masked store, which costs as much as the three of a group.
void reverseBlocks(uint8_t* __restrict dst, const uint8_t* __restrict src, uint32_t blocks,
                   uint32_t spare = 0) {
    const __m512i order0 = _mm512_load_si512(kFrameOrder.group[0]);
    const __m512i order1 = _mm512_load_si512(kFrameOrder.group[1]);
    const __m512i order2 = _mm512_load_si512(kFrameOrder.group[2]);
    for (; blocks >= 4; blocks -= 4, dst += 4 * kBlock, src += 4 * kBlock) {
        _mm512_storeu_si512(dst, _mm512_permutex2var_epi8(_mm512_loadu_si512(src - 2), order0,
                                                          _mm512_loadu_si512(src + 2)));
        _mm512_storeu_si512(dst + 64, _mm512_permutex2var_epi8(_mm512_loadu_si512(src + 62), order1,
                                                               _mm512_loadu_si512(src + 66)));
        _mm512_storeu_si512(dst + 128,
                            _mm512_permutex2var_epi8(_mm512_loadu_si512(src + 126), order2,
                                                     _mm512_loadu_si512(src + 130)));
    }
    const __m512i order = _mm512_load_si512(kFrameOrder.block);
    for (; blocks > 0; --blocks, dst += kBlock, src += kBlock) {
        const __m512i v = _mm512_permutexvar_epi8(order, _mm512_loadu_si512(src));
        if (spare >= 64 - kBlock) {
            _mm512_storeu_si512(dst, v);
        } else {
            _mm512_mask_storeu_epi8(dst, kBlockBytes, v);
        }
    }
}

void fill64(uint8_t* p, const uint8_t* splat) {
    _mm512_storeu_si512(
        p, _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(splat))));
}

// For runs of up to Width values, Width lanes to each code byte: lane j is
// for byte j / Width and holds the run's j % Width-th value.
template <uint32_t Width>
struct Spread {
    alignas(64) uint8_t code[64];
    alignas(64) uint8_t within[64];
};
template <uint32_t Width>
constexpr Spread<Width> makeSpread() {
    Spread<Width> s{};
    for (uint32_t j = 0; j < 64; ++j) {
        s.code[j] = static_cast<uint8_t>(j / Width);
        s.within[j] = static_cast<uint8_t>(j % Width);
    }
    return s;
}
constexpr Spread<4> kSpread4 = makeSpread<4>();
constexpr Spread<8> kSpread8 = makeSpread<8>();
constexpr Spread<16> kSpread16 = makeSpread<16>();

// 64 / Width runs at a time: each code byte's value spread over Width lanes,
// of which the first `length` are kept and packed together. The lanes to keep
// are found in a mask register: going through memory stalls the loads.
template <uint32_t Width>
uint8_t* expandRuns(uint8_t* q, __m512i values, __m512i lengths, const Spread<Width>& spread) {
    __m512i code = _mm512_load_si512(spread.code);
    const __m512i within = _mm512_load_si512(spread.within);
    const __m512i step = _mm512_set1_epi8(64 / Width);
    for (uint32_t g = 0; g < Width; ++g, code = _mm512_add_epi8(code, step)) {
        const __mmask64 keep =
            _mm512_cmplt_epu8_mask(within, _mm512_permutexvar_epi8(code, lengths));
        _mm512_storeu_si512(
            q, _mm512_maskz_compress_epi8(keep, _mm512_permutexvar_epi8(code, values)));
        q += _mm_popcnt_u64(keep);
    }
    return q;
}

bool singleDigits(const uint8_t* p) {
    const __m512i levels = _mm512_set1_epi8(static_cast<char>(0xF0));
    const __m512i changes = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_loadu_si512(p - 1));
    return _mm512_test_epi8_mask(changes, levels) == ~uint64_t{0} &&
           ((p[kBatch - 1] ^ p[kBatch]) & 0xF0) != 0;
}

uint8_t* fillSingleDigits(uint8_t* q, const uint8_t* p) {
    const __m512i code = _mm512_loadu_si512(p);
    const __m512i low = _mm512_set1_epi8(0x0F);
    const __m512i levels = _mm512_and_si512(_mm512_srli_epi16(code, 4), low);
    const __m512i values = _mm512_or_si512(levels, _mm512_slli_epi16(levels, 4));
    const __m512i lengths = _mm512_and_si512(code, low);
    if (_mm512_cmpgt_epu8_mask(lengths, _mm512_set1_epi8(4)) == 0) {
        return expandRuns(q, values, lengths, kSpread4);
    }
    if (_mm512_cmpgt_epu8_mask(lengths, _mm512_set1_epi8(8)) == 0) {
        return expandRuns(q, values, lengths, kSpread8);
    }
    return expandRuns(q, values, lengths, kSpread16);
}

// Three stores for every byte of a scanned chunk, and four for runs up to
// 256 values gathered where whole groups go out together, cost less than the
// branches they save on a busy layer's edges: a typical layer takes about a
// sixth less time than with the portable limits.
constexpr uint32_t kShort = 192;
constexpr uint32_t kLong = 256;

void fillShort(uint8_t* p, const uint8_t* splat) {
    fill64(p, splat);
    fill64(p + 64, splat);
    fill64(p + 128, splat);
}

void gatherRun(uint8_t* q, const uint8_t* splat) {
    const __m512i v =
        _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(splat)));
    for (uint32_t j = 0; j < kLong; j += 64) _mm512_storeu_si512(q + j, v);
}

#include "print/layer_decode_loop.h"

}  // namespace wide
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#endif

}  // namespace

bool hasWideVectors() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

std::vector<LayerDecoder> layerDecoders() {
    std::vector<LayerDecoder> decoders{{"portable", portable::decode}};
#if defined(__x86_64__)
    if (hasWideVectors()) decoders.push_back({"avx512", wide::decode});
#endif
    return decoders;
}

int decodeLayer(const uint8_t* code, size_t n, uint8_t* frame) {
    static const auto decode = layerDecoders().back().decode;
    return decode(code, n, frame);
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
