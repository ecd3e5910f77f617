// The decoding loop, compiled once for each instruction set layer_code.cpp
// decodes with: it is included inside a namespace that first defines kShort,
// kLong, reverseBlocks(), singleDigits(), fillSingleDigits(), fill64(),
// fillShort() and gatherRun() for that set. No include guard, on purpose.

static_assert(kShort < kLong);
static_assert(kLong - 4 >= kBlock && kLong - 4 >= 64);

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
            gatherRun(values() + count, kSplat.v[b]);
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
        // into the run's whole pixels, written next, of which there are at
        // least kLong - 4.
        memcpy(values() + count, kSplat.v[b], 16);
        const uint32_t first = (pos + 2) / 3 * 3;
        const uint32_t end = pos + length;
        const uint32_t last = end / 3 * 3;
        const uint32_t blocks = (first - base_ + kBlock - 1) / kBlock;
        reverseBlocks(frame_ + base_, values(), blocks,
                      first + kLong - 4 - (base_ + blocks * kBlock));
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
    static constexpr uint32_t kPast = std::max({15 * kBatch + 64, kShort + 64, kLong + 64});
    alignas(64) uint8_t buf_[kPad + kStage + kPast + kBlock];
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

int decode(const uint8_t* code, size_t n, uint8_t* frame) {
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
                fillShort(values + count, kSplat.v[b]);
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
