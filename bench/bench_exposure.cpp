// Decoding a layer onto the mask frame, the step that keeps the UV light off
// between layers, against a memset of the frame (the floor) and a
// value-by-value decoder (the baseline). Four kinds of layer, from one run
// over the whole frame to a dithered texture.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "firmware/print/layer_code.h"
#include "geometry/part.h"

namespace {

constexpr int kLineValues = static_cast<int>(FRAME_LINE_BYTES);
constexpr int kLines = static_cast<int>(FRAME_HEIGHT);

uint8_t* frame() {
    static const std::unique_ptr<uint8_t[]> f = [] {
        std::unique_ptr<uint8_t[]> p(new uint8_t[FRAME_BYTES]);
        memset(p.get(), 0, FRAME_BYTES);  // fault the pages in before timing
        return p;
    }();
    return f.get();
}

uint64_t next(uint64_t& s) {  // splitmix64
    uint64_t z = (s += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// A filled disc in value coordinates (x in values, y in lines, a value is a
// third of a pixel wide), with anti-aliased edge values.
struct Disc {
    double cx, cy, r;
    int teeth = 0;  // a gear: the radius swings by a tenth over `teeth` teeth
};

double coverage(const Disc& d, double x, double y) {
    const double dx = (x - d.cx) / 3.0, dy = y - d.cy;  // a value is a third of a pixel
    double r = d.r;
    if (d.teeth > 0) r *= std::sin(std::atan2(dy, dx) * d.teeth) > 0 ? 1.0 : 0.9;
    const double dist = std::sqrt(dx * dx + dy * dy);
    // Edges a pixel and a half wide: one to three grey values where a line
    // crosses them.
    return std::clamp((r - dist) / 1.5 + 0.5, 0.0, 1.0);
}

void paint(std::vector<uint8_t>& levels, const Disc& d, bool hole) {
    const int y0 = std::max(0, static_cast<int>(d.cy - d.r - 2));
    const int y1 = std::min(kLines, static_cast<int>(d.cy + d.r + 3));
    const int x0 = std::max(0, static_cast<int>(d.cx - 3 * d.r - 6));
    const int x1 = std::min(kLineValues, static_cast<int>(d.cx + 3 * d.r + 7));
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const double c = coverage(d, x + 0.5, y + 0.5);
            if (c <= 0) continue;
            uint8_t& l = levels[static_cast<size_t>(y) * kLineValues + x];
            const int g = static_cast<int>(std::lround(c * 15));
            l = static_cast<uint8_t>(hole ? std::min<int>(l, 15 - g) : std::max<int>(l, g));
        }
    }
}

std::vector<uint8_t> makeLevels(int kind) {
    std::vector<uint8_t> levels(FRAME_BYTES, 0);
    uint64_t seed = 1234 + kind;
    switch (kind) {
        case 0:  // solid: the whole frame lit
            std::fill(levels.begin(), levels.end(), 15);
            break;
        case 1:  // sparse: a few small parts
            for (int i = 0; i < 12; ++i) {
                const double cx = 900.0 + 1550 * (i % 4), cy = 700.0 + 1200 * (i / 4);
                paint(levels, {cx, cy, 300, (i % 2) * 24}, false);
                if (i % 3 == 0) paint(levels, {cx, cy, 80}, true);
            }
            break;
        case 2: {  // typical: a plate of gears, each with a bore and holes
            for (int gy = 0; gy < 6; ++gy) {
                for (int gx = 0; gx < 5; ++gx) {
                    const double cx = 648.0 + 1296 * gx + (gy % 2) * 200, cy = 330.0 + 640 * gy;
                    paint(levels, {cx, cy, 205, 24}, false);
                    paint(levels, {cx, cy, 40}, true);
                    for (int h = 0; h < 12; ++h) {
                        const double a = h * 0.523599;
                        paint(levels, {cx + 3 * 130 * std::cos(a), cy + 130 * std::sin(a), 22},
                              true);
                    }
                }
            }
            // Lettering-like fine detail across the plate.
            for (int i = 0; i < 6000; ++i) {
                const double cx = static_cast<double>(next(seed) % kLineValues);
                const double cy = static_cast<double>(next(seed) % kLines);
                paint(levels, {cx, cy, 3.0 + static_cast<double>(next(seed) % 8)}, (i % 3) == 0);
            }
            break;
        }
        default: {  // dense: a dithered texture, runs of one to four values
            size_t i = 0;
            uint8_t level = 0;
            while (i < levels.size()) {
                const uint64_t r = next(seed);
                level = static_cast<uint8_t>((level + 1 + r % 15) % 16);
                const size_t len = std::min<size_t>(1 + (r >> 8) % 4, levels.size() - i);
                std::fill_n(levels.begin() + static_cast<ptrdiff_t>(i), len, level);
                i += len;
            }
            break;
        }
    }
    return levels;
}

// Value by value: the baseline.
int naiveDecode(const uint8_t* code, size_t n, uint8_t* out) {
    uint32_t pos = 0;
    uint32_t length = code[0] & 0x0F;
    uint8_t level = code[0] >> 4;
    auto emit = [&] {
        if (length > FRAME_BYTES - pos) return false;
        for (uint32_t k = 0; k < length; ++k, ++pos) {
            out[pos / 3 * 3 + 2 - pos % 3] = static_cast<uint8_t>(level * 17);
        }
        return true;
    };
    for (size_t i = 1; i < n; ++i) {
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

struct Layer {
    std::vector<uint8_t> code;
    double runsPerLine = 0;
};

// Built once per kind; the decoder is checked against the baseline here so
// the figures are for a correct decode.
const Layer& layer(int kind) {
    static Layer layers[4];
    Layer& l = layers[kind];
    if (!l.code.empty()) return l;
    const std::vector<uint8_t> levels = makeLevels(kind);
    l.code = encodeLayer(levels.data(), levels.size());
    const LayerCodeCheck check = checkLayerCode(l.code.data(), l.code.size());
    l.runsPerLine = static_cast<double>(check.runs) / kLines;

    std::vector<uint8_t> want(FRAME_BYTES, 0x5A);
    memset(frame(), 0x5A, FRAME_BYTES);
    if (naiveDecode(l.code.data(), l.code.size(), want.data()) != LAYER_DONE ||
        decodeLayer(l.code.data(), l.code.size(), frame()) != LAYER_DONE ||
        memcmp(want.data(), frame(), FRAME_BYTES) != 0) {
        fprintf(stderr, "layer kind %d: decodeLayer disagrees with the baseline\n", kind);
        abort();
    }
    return l;
}

// How a layer is decoded: decodeLayer, the baseline, or the portable decoder
// the board runs (decodeLayer here may take a wider one).
enum class Way { Fastest, Naive, Portable };

template <int Kind, Way How>
void decodeBench(benchmark::State& state) {
    const Layer& l = layer(Kind);
    uint8_t* f = frame();
    const auto decode = How == Way::Naive      ? naiveDecode
                        : How == Way::Portable ? layerDecoders().front().decode
                                               : decodeLayer;
    for (auto _ : state) {
        const int r = decode(l.code.data(), l.code.size(), f);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
    state.counters["runs_per_line"] = l.runsPerLine;
    state.counters["code_MB"] = static_cast<double>(l.code.size()) / 1e6;
}

}  // namespace

// The fastest of the repetitions, for machines shared with other work:
// --benchmark_repetitions=N --benchmark_report_aggregates_only=true.
static double fastest(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

static void BM_MemsetFrame(benchmark::State& state) {
    uint8_t* f = frame();
    uint8_t v = 0;
    for (auto _ : state) {
        memset(f, v++, FRAME_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
}
BENCHMARK(BM_MemsetFrame)->ComputeStatistics("min", fastest);

#define LAYER_BENCHMARKS(Kind, index)                              \
    static void BM_Decode##Kind(benchmark::State& s) {             \
        decodeBench<index, Way::Fastest>(s);                       \
    }                                                              \
    static void BM_Naive##Kind(benchmark::State& s) {              \
        decodeBench<index, Way::Naive>(s);                         \
    }                                                              \
    static void BM_PortableDecode##Kind(benchmark::State& s) {     \
        decodeBench<index, Way::Portable>(s);                      \
    }                                                              \
    BENCHMARK(BM_Decode##Kind)->ComputeStatistics("min", fastest); \
    BENCHMARK(BM_Naive##Kind)->ComputeStatistics("min", fastest);  \
    BENCHMARK(BM_PortableDecode##Kind)->ComputeStatistics("min", fastest);

LAYER_BENCHMARKS(Solid, 0)
LAYER_BENCHMARKS(Sparse, 1)
LAYER_BENCHMARKS(Typical, 2)
LAYER_BENCHMARKS(Dense, 3)

// What the resin vat reads of the mask at each exposure: the sum of every
// 8 x 8-pixel cell, on the typical layer decoded onto the frame.
static void BM_CellSumsTypical(benchmark::State& state) {
    const Layer& l = layer(2);
    decodeLayer(l.code.data(), l.code.size(), frame());
    std::vector<uint16_t> sums(geometry::kCells);
    for (auto _ : state) {
        geometry::cellSums(frame(), sums.data());
        benchmark::DoNotOptimize(sums.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
}
BENCHMARK(BM_CellSumsTypical)->ComputeStatistics("min", fastest);
