// The layer coding: decodeLayer against a value-by-value decoder on whole
// frames (layers that mix every kind of run the fast paths tell apart, layers
// that stop short of the frame's end, layers refused part way), and
// encodeLayer back through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "firmware/print/layer_code.h"

namespace {

// Bytes after the frame that must never be written.
constexpr size_t kGuard = 64;

// Value by value: what decodeLayer must leave in the frame.
int reference(const std::vector<uint8_t>& code, std::vector<uint8_t>& frame) {
    uint64_t pos = 0;
    uint64_t length = code[0] & 0x0F;
    uint8_t level = code[0] >> 4;
    auto emit = [&] {
        if (pos + length > FRAME_BYTES) return false;
        for (uint64_t end = pos + length; pos < end; ++pos) {
            frame[pos / 3 * 3 + 2 - pos % 3] = static_cast<uint8_t>(level * 17);
        }
        return true;
    };
    for (size_t i = 1; i < code.size(); ++i) {
        if ((code[i] >> 4) == level) {
            length = length * 16 + (code[i] & 0x0F);
            if (length > FRAME_BYTES) return LAYER_RUN_TOO_LONG;
            continue;
        }
        if (!emit()) return LAYER_RUN_TOO_LONG;
        level = code[i] >> 4;
        length = code[i] & 0x0F;
    }
    return emit() ? LAYER_DONE : LAYER_RUN_TOO_LONG;
}

// Code written run by run, each with as many leading zero digits as asked.
class Coder {
  public:
    explicit Coder(uint32_t seed) : rng_(seed) {}

    uint64_t values() const { return values_; }
    const std::vector<uint8_t>& code() const { return code_; }

    void run(uint64_t length, int zeros = 0) {
        // A level other than the last run's, or the two would be one run.
        level_ = static_cast<uint8_t>((level_ + 1 + pick(14)) % 16);
        int digits = 1;
        while (digits < 16 && (length >> (4 * digits)) != 0) ++digits;
        for (int d = 0; d < zeros; ++d) code_.push_back(static_cast<uint8_t>(level_ << 4));
        for (int d = digits - 1; d >= 0; --d) {
            code_.push_back(static_cast<uint8_t>(level_ << 4 | ((length >> (4 * d)) & 0x0F)));
        }
        values_ += length;
    }

    uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % (n + 1)); }

    // Random stretches of runs up to `total` values: busy ones of one-digit
    // runs, edges between longer runs, long runs, and odd ones (zero-length
    // runs, leading zero digits, lengths either side of each fast path's
    // limits, runs of four digits or more). The last run ends on `total`.
    void fill(uint64_t total) {
        static const uint32_t odd[] = {0,   1,   2,    3,    15,   16,    17,    32,
                                       33,  63,  64,   65,   67,   68,    69,    95,
                                       255, 256, 4095, 4096, 4097, 65535, 65536, 70001};
        auto add = [&](uint64_t length, int zeros = 0) {
            if (values_ < total) run(std::min(length, total - values_), zeros);
        };
        while (values_ < total) {
            switch (pick(3)) {
                case 0:
                    for (uint32_t k = 50 + pick(250); k > 0; --k) add(1 + pick(14));
                    break;
                case 1:
                    for (uint32_t k = 1 + pick(20); k > 0; --k) {
                        for (uint32_t e = 1 + pick(2); e > 0; --e) add(1 + pick(2));
                        add(16 + pick(600));
                    }
                    break;
                case 2:
                    for (uint32_t k = 1 + pick(4); k > 0; --k) add(600 + pick(70000));
                    break;
                default:
                    for (uint32_t k = 1 + pick(30); k > 0; --k) {
                        add(odd[pick(std::size(odd) - 1)], static_cast<int>(pick(3)));
                    }
                    break;
            }
        }
    }

  private:
    std::mt19937 rng_;
    std::vector<uint8_t> code_;
    uint64_t values_ = 0;
    uint8_t level_ = 0;
};

class LayerDecode : public ::testing::Test {
  protected:
    // Both frames start as the same made-up previous layer.
    LayerDecode() : got_(FRAME_BYTES + kGuard), want_(FRAME_BYTES + kGuard) {
        for (size_t i = 0; i < got_.size(); ++i) got_[i] = static_cast<uint8_t>(i * 7 + i / 997);
        want_ = got_;
    }

    // Decodes `code` both ways and compares the whole frame and the guard.
    void expectSame(const std::vector<uint8_t>& code, int result,
                    int (*decode)(const uint8_t*, size_t, uint8_t*) = decodeLayer) {
        ASSERT_EQ(reference(code, want_), result);
        ASSERT_EQ(decode(code.data(), code.size(), got_.data()), result);
        if (got_ == want_) return;
        const size_t i = static_cast<size_t>(
            std::mismatch(got_.begin(), got_.end(), want_.begin()).first - got_.begin());
        FAIL() << "byte " << i << " of " << FRAME_BYTES << ": " << int{got_[i]} << ", not "
               << int{want_[i]};
    }

    std::vector<uint8_t> got_, want_;
};

// By hand as well, so the reference is checked too: a run fills each pixel's
// bytes last to first and carries over into the next pixel; a lone 0x00 writes
// nothing; a leading zero digit is a digit.
TEST_F(LayerDecode, TheWorkedExampleLandsInReversedBytes) {
    const uint8_t untouched = got_[28 * 3 + 1];
    expectSame({0x35, 0x32, 0xF3}, LAYER_DONE);
    for (int i = 0; i < 27 * 3; ++i) ASSERT_EQ(got_[i], 0x33) << i;
    EXPECT_EQ(got_[27 * 3 + 2], 0x33);
    EXPECT_EQ(got_[27 * 3 + 1], 0xFF);
    EXPECT_EQ(got_[27 * 3 + 0], 0xFF);
    EXPECT_EQ(got_[28 * 3 + 2], 0xFF);
    EXPECT_EQ(got_[28 * 3 + 1], untouched);
    expectSame({0x00}, LAYER_DONE);
    EXPECT_EQ(got_[0], 0x33);
    expectSame({0x70, 0x71}, LAYER_DONE);
    EXPECT_EQ(got_[2], 0x77);
    EXPECT_EQ(got_[1], 0x33);
}

TEST_F(LayerDecode, EncodingIsShortestAndDecodesBack) {
    // Runs of every length class, levels changing and repeating.
    std::vector<uint8_t> levels;
    const size_t lengths[] = {1, 15, 16, 255, 256, 4095, 70000, 3, 1000000};
    for (size_t i = 0; i < std::size(lengths); ++i) {
        levels.insert(levels.end(), lengths[i], static_cast<uint8_t>((i * 5) % 16));
    }
    levels.resize(FRAME_BYTES, 0);
    const std::vector<uint8_t> code = encodeLayer(levels.data(), levels.size());
    // 1 + 1 + 2 + 2 + 3 + 3 + 5 + 1 + 5 digits, then 7 for the zero run to the end.
    EXPECT_EQ(code.size(), 23u + 7u);
    expectSame(code, LAYER_DONE);
    for (size_t i = 0; i < FRAME_BYTES; i += 997) {
        ASSERT_EQ(got_[i / 3 * 3 + 2 - i % 3], levels[i] * 17) << i;
    }
    EXPECT_EQ(greyLevel(0x88), 8);
    EXPECT_EQ(greyLevel(9), 1);
    EXPECT_EQ(greyLevel(8), 0);
}

// Every decoder on whole layers that mix every kind of run, on one that ends
// inside a pixel (its other bytes keep the previous layer), and on layers
// refused part way: the runs before the refused one are written, nothing
// after it.
TEST_F(LayerDecode, EveryDecoderMatchesValueByValueOnWholeShortAndRefusedLayers) {
    struct Case {
        const char* what;
        uint32_t seed;
        int result;
        void (*build)(Coder&);
    };
    const Case cases[] = {
        {"mixed", 1, LAYER_DONE, [](Coder& c) { c.fill(FRAME_BYTES); }},
        {"mixed", 2, LAYER_DONE, [](Coder& c) { c.fill(FRAME_BYTES); }},
        {"ending inside a pixel", 3, LAYER_DONE, [](Coder& c) { c.fill(FRAME_BYTES / 5 * 2 + 1); }},
        {"a short run past the end", 4, LAYER_RUN_TOO_LONG,
         [](Coder& c) {
             c.fill(FRAME_BYTES - 2000);
             while (c.values() < FRAME_BYTES - 7)
                 c.run(std::min<uint64_t>(1 + c.pick(14), FRAME_BYTES - 7 - c.values()));
             c.run(8);
             for (int k = 0; k < 400; ++k) c.run(1 + c.pick(14));
         }},
        {"a long run past the end", 5, LAYER_RUN_TOO_LONG,
         [](Coder& c) {
             c.fill(FRAME_BYTES - 1000);
             c.run(3);
             c.run(998);
             for (int k = 0; k < 400; ++k) c.run(1 + c.pick(2));
         }},
        {"a run longer than the frame after gathered ones", 6, LAYER_RUN_TOO_LONG,
         [](Coder& c) {
             c.fill(1000);
             for (int k = 0; k < 100; ++k) c.run(1 + c.pick(2));
             c.run(FRAME_BYTES + 1);
             for (int k = 0; k < 400; ++k) c.run(1 + c.pick(2));
         }},
    };
    for (const LayerDecoder& decoder : layerDecoders()) {
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(decoder.name) + ": " + k.what);
            Coder c(k.seed);
            k.build(c);
            expectSame(c.code(), k.result, decoder.decode);
            want_ = got_;
        }
    }
}

// Each instruction set's decoder on its own, over seeded layers of busy
// stretches whose runs are at most 1, 4, 8 or 15 values long (the widths the
// vector decoder spreads runs over), zero-length runs among them, some
// refused part way.
TEST_F(LayerDecode, EveryDecoderMatchesValueByValueOnBusyStretches) {
    for (const LayerDecoder& decoder : layerDecoders()) {
        for (uint32_t seed = 10; seed < 16; ++seed) {
            SCOPED_TRACE(std::string(decoder.name) + " seed " + std::to_string(seed));
            Coder c(seed);
            const uint64_t total = FRAME_BYTES / 8 + c.pick(FRAME_BYTES / 8);
            while (c.values() < total) {
                static const uint32_t widths[] = {1, 4, 8, 15};
                const uint32_t longest = widths[c.pick(3)];
                for (uint32_t k = 64 + c.pick(400); k > 0; --k) {
                    c.run(c.pick(40) == 0 ? 0 : 1 + c.pick(longest - 1));
                }
                if (c.pick(1) == 0) c.run(16 + c.pick(4000));
            }
            const bool refused = seed % 3 == 0;
            if (refused) c.run(FRAME_BYTES);
            for (int k = 0; k < 300; ++k) c.run(1 + c.pick(3));
            expectSame(c.code(), refused ? LAYER_RUN_TOO_LONG : LAYER_DONE, decoder.decode);
            want_ = got_;
        }
    }
}

}  // namespace
