#include "print/layer_code.h"

#include <algorithm>
#include <bit>
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

// The reversing copy's unit: 16 pixels.
constexpr uint32_t kBlock = 48;
// Values gathered before the buffer goes out: whole blocks.
constexpr uint32_t kStage = 64 * kBlock;
// Runs up to this long take one fill64() in scanned chunks: storing more
// bytes than most runs need costs less than branching on their length.
constexpr uint32_t kShort = 64;
// Runs this long or longer go to the frame directly. The buffer goes out
// before such a run in whole blocks, which may reach up to a block into the
// run's whole pixels (written over next), so there must be that many, and
// the stores that fill them need 64.
constexpr uint32_t kLong = 68;
// Whole pixels of a run from this many bytes on go to memset, faster for
// them than stores in line.
constexpr uint32_t kMemset = 16384;
// Code bytes checked at a time for runs of one digit each.
constexpr uint32_t kBatch = 64;
// Code bytes scanned at a time otherwise.
constexpr uint32_t kChunk = 256;
static_assert(kStage % kBlock == 0 && kBlock % 3 == 0);
static_assert(kShort < kLong);
static_assert(kLong - 4 >= kBlock && kLong - 4 >= 64 && kChunk >= kBatch);

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
void reverseBlocks(uint8_t* __restrict dst, const uint8_t* __restrict src, uint32_t blocks) {
    for (uint32_t b = 0; b < blocks; ++b, dst += kBlock, src += kBlock) {
        reverse16<0>(dst, src);
        reverse16<16>(dst, src);
        reverse16<32>(dst, src);
    }
}

// Whether two code bytes have the same level.
uint32_t sameLevel(uint8_t a, uint8_t b) {
    return ((a ^ b) & 0xF0) == 0;
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

// Scans the chunk at `p`, reading p[-3] to p[kChunk]. A run's length is read
// at its last digit from it and the two bytes before.
void scanChunk(const uint8_t* __restrict p, Chunk& __restrict c) {
    for (uint32_t j = 0; j < kChunk; ++j) {
        const uint8_t p3 = (p - 3)[j], p2 = (p - 2)[j], p1 = (p - 1)[j], b = p[j], next = p[j + 1];
        const uint16_t c1 = sameLevel(p1, b) ? 0xFFFF : 0;
        const uint16_t c2 = c1 & (sameLevel(p2, p1) ? 0xFFFF : 0);
        const uint16_t c3 = c2 & (sameLevel(p3, p2) ? 0xFFFF : 0);
        const uint16_t last = sameLevel(b, next) ? 0 : 0xFFFF;
        const uint16_t length =
            static_cast<uint16_t>((b & 0x0F) | ((p1 & 0x0F) << 4 & c1) | ((p2 & 0x0F) << 8 & c2));
        c.advance[j] = length & last;
        c.special[j] =
            static_cast<uint8_t>((c3 & kLongDigits) | (last & (length > kShort ? kRunEnd : 0)));
    }
}

// 64 bytes of one value, from the 16 at `splat`.
void fill64(uint8_t* p, const uint8_t* splat) {
    memcpy(p, splat, 16);
    memcpy(p + 16, splat, 16);
    memcpy(p + 32, splat, 16);
    memcpy(p + 48, splat, 16);
}

// Whole pixels of one run, bytes [d, e), e - d >= 64: 256 bytes at a time,
// then the last up to 256 in four 64-byte stretches that may overlap.
void fillPixels(uint8_t* d, uint8_t* e, const uint8_t* splat) {
    const size_t size = static_cast<size_t>(e - d);
    if (size >= kMemset) {
        memset(d, splat[0], size);
        return;
    }
    for (size_t at = 0; size - at > 256; at += 256) {
        fill64(d + at, splat);
        fill64(d + at + 64, splat);
        fill64(d + at + 128, splat);
        fill64(d + at + 192, splat);
    }
    const size_t tail = std::min<size_t>(size, 256);
    d = e - tail;
    fill64(d, splat);
    fill64(d + std::min<size_t>(64, tail - 64), splat);
    fill64(d + std::min<size_t>(128, tail - 64), splat);
    fill64(e - 64, splat);
}

// Where the gathered values go: the frame from `base` (a pixel start) on.
// The count of gathered values lives in the caller's loop, where it stays in
// a register; the calls here take it and hand back the new one.
class Stage {
  public:
    static constexpr uint32_t kRefused = UINT32_MAX;

    explicit Stage(uint8_t* frame) : frame_(frame) { memset(buf_, 0, sizeof buf_); }

    uint8_t* values() { return buf_ + kPad; }

    // Values from the buffer's start to the end of the frame.
    uint32_t room() const { return FRAME_BYTES - base_; }

    // A count reaching this means the buffer is full or the last run passed
    // the end of the frame.
    uint32_t limit() const { return std::min(kStage, room() + 1); }

    // Copies out `count` gathered values, ending the layer.
    void finish(uint32_t count) {
        const uint32_t blocks = count / kBlock;
        reverseBlocks(frame_ + base_, values(), blocks);
        for (uint32_t j = blocks * kBlock; j < count; ++j) {
            frame_[base_ + j / 3 * 3 + 2 - j % 3] = values()[j];
        }
    }

    // After a run of `length` values took the count to limit(): refuses the
    // run if it passes the end of the frame, else copies out a full buffer
    // and moves the rest to the front.
    [[gnu::noinline]] uint32_t spill(uint32_t count, uint32_t length) {
        if (count > room()) {
            finish(count - length);
            return kRefused;
        }
        reverseBlocks(frame_ + base_, values(), kStage / kBlock);
        memcpy(values(), values() + kStage, count - kStage);
        base_ += kStage;
        return count - kStage;
    }

    // Adds a run of `length` values of code byte b's level after `count`
    // gathered ones: gathered if shorter than kLong, else to the frame.
    [[gnu::noinline]] uint32_t run(uint32_t count, uint8_t b, uint32_t length) {
        if (length < kLong) {
            uint8_t* q = values() + count;
            for (uint32_t j = 0; j < kLong; j += 16) memcpy(q + j, kSplat.v[b], 16);
            count += length;
            return count >= limit() ? spill(count, length) : count;
        }
        const uint32_t pos = base_ + count;
        if (length > FRAME_BYTES - pos) {
            finish(count);
            return kRefused;
        }
        // The run's first values complete the pixel in the buffer, which goes
        // out up to the run's first whole pixel; whole blocks, so it may reach
        // into the run's whole pixels, written next.
        memcpy(values() + count, kSplat.v[b], 16);
        const uint32_t first = (pos + 2) / 3 * 3;
        const uint32_t end = pos + length;
        const uint32_t last = end / 3 * 3;
        reverseBlocks(frame_ + base_, values(), (first - base_ + kBlock - 1) / kBlock);
        fillPixels(frame_ + first, frame_ + last, kSplat.v[b]);
        // The run's last partial pixel starts the buffer anew.
        base_ = last;
        memcpy(values(), kSplat.v[b], 16);
        return end - last;
    }

  private:
    // Room before the values for the reversing copy's look-behind.
    static constexpr uint32_t kPad = 16;

    uint8_t* frame_;
    uint32_t base_ = 0;
    // A full buffer, then a batch of one-digit runs or a run shorter than
    // kLong with its last store past it, and the copy's look-ahead.
    alignas(64) uint8_t buf_[kPad + kStage + 15 * kBatch + 16 + kBlock];
};

// Where decoding goes on after wholeRun(): the next code byte (0 when the
// run was refused) and the gathered count.
struct Resume {
    size_t next;
    uint32_t count;
};

// The run that code[at] belongs to, whole: back to its first digit (the
// digits before a run's last move nothing), then its length gathered a digit
// at a time. For runs the scan cannot measure and the code's ends.
[[gnu::noinline]] Resume wholeRun(const uint8_t* code, size_t n, size_t at, Stage& stage,
                                  uint32_t count) {
    while (at > 0 && sameLevel(code[at - 1], code[at])) --at;
    const uint8_t b = code[at];
    uint32_t length = b & 0x0F;
    while (++at < n && sameLevel(code[at], b)) {
        length = length * 16 + (code[at] & 0x0F);
        if (length > FRAME_BYTES) {
            stage.finish(count);
            return {0, 0};
        }
    }
    count = stage.run(count, b, length);
    return {count == Stage::kRefused ? 0 : at, count};
}

}  // namespace

int decodeLayer(const uint8_t* code, size_t n, uint8_t* frame) {
    Stage stage(frame);
    uint8_t* const values = stage.values();
    uint32_t count = 0;  // values gathered; below limit between runs
    uint32_t limit = stage.limit();
    Chunk chunk;
    size_t i = 0;  // the next code byte
    while (i < n) {
        if (i < 3 || n - i <= kChunk) {
            // The code's first and last bytes, a run at a time.
            const Resume r = wholeRun(code, n, i, stage, count);
            if (r.next == 0) return LAYER_RUN_TOO_LONG;
            i = r.next;
            count = r.count;
            limit = stage.limit();
            continue;
        }
        if (count + 15 * kBatch <= stage.room() && singleDigits(code + i)) {
            count = static_cast<uint32_t>(fillSingleDigits(values + count, code + i) - values);
            i += kBatch;
            if (count >= kStage) {
                count = stage.spill(count, 0);
                limit = stage.limit();
            }
            continue;
        }
        scanChunk(code + i, chunk);
        const size_t end = i + kChunk;
        while (i < end) {
            const uint32_t j = static_cast<uint32_t>(i + kChunk - end);
            const uint8_t b = code[i];
            const uint32_t advance = chunk.advance[j];
            if (chunk.special[j] == 0) {
                // Every byte stores its level where the run starts; the
                // run's last digit moves the count on.
                fill64(values + count, kSplat.v[b]);
                count += advance;
                ++i;
                if (count >= limit) {
                    count = stage.spill(count, advance);
                    if (count == Stage::kRefused) return LAYER_RUN_TOO_LONG;
                    limit = stage.limit();
                }
            } else if (chunk.special[j] == kRunEnd) {
                count = stage.run(count, b, advance);
                if (count == Stage::kRefused) return LAYER_RUN_TOO_LONG;
                ++i;
                limit = stage.limit();
            } else {
                const Resume r = wholeRun(code, n, i, stage, count);
                if (r.next == 0) return LAYER_RUN_TOO_LONG;
                i = r.next;
                count = r.count;
                limit = stage.limit();
            }
        }
    }
    stage.finish(count);
    return LAYER_DONE;
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
