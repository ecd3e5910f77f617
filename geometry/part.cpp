#include "part.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace geometry {

namespace {

constexpr int kValuesPerCellLine = kCellPixels * 3;  // a cell's values on one line
static_assert(kCellValues * 255 <= UINT16_MAX);

void portableCellSums(const uint8_t* frame, uint16_t* sums) {
    for (int cy = 0; cy < kCellsY; ++cy) {
        uint16_t* row = sums + cy * kCellsX;
        std::memset(row, 0, kCellsX * sizeof *row);
        for (int line = 0; line < kCellPixels; ++line) {
            const uint8_t* values =
                frame + static_cast<size_t>(cy * kCellPixels + line) * FRAME_LINE_BYTES;
            for (int cx = 0; cx < kCellsX; ++cx) {
                const uint8_t* v = values + cx * kValuesPerCellLine;
                // Most of a mask is dark: a word at a time tells.
                uint64_t w[3];
                std::memcpy(w, v, sizeof w);
                if ((w[0] | w[1] | w[2]) == 0) continue;
                unsigned s = 0;
                for (int i = 0; i < kValuesPerCellLine; ++i) s += v[i];
                row[cx] = static_cast<uint16_t>(row[cx] + s);
            }
        }
    }
}

#if defined(__x86_64__)
// Eight cells (192 values of a line) at a time, line by line as the frame
// streams: each 64-byte load is summed eight values to a lane, a lane of
// each of the three loads is packed into one 16-bit field of a 64-bit lane
// (eight lines of eight values stay under 2^16), and a cell's three sums are
// added once its eight lines are in. As fast as the frame can be read, where
// the portable loop adds value by value wherever a cell is lit.
constexpr int kGroupCells = 8;
constexpr int kGroupValues = kGroupCells * kValuesPerCellLine;  // 192
constexpr int kGroups = (kCellsX + kGroupCells - 1) / kGroupCells;
constexpr int kLastCells = kCellsX - (kGroups - 1) * kGroupCells;
// The last group's first 128 values take two whole loads, the rest one of 16.
static_assert(kLastCells * kValuesPerCellLine > 128 && kLastCells * kValuesPerCellLine <= 144);
static_assert(kCellPixels * 8 * 255 <= UINT16_MAX);

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl")
// GCC takes the intrinsics' deliberately undefined starting values for
// uninitialised ones.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
void wideCellSums(const uint8_t* frame, uint16_t* sums) {
    // Cell k of a group is lanes 3k, 3k + 1 and 3k + 2 of its 24 sums of
    // eight values; each pick takes from the first 16, then from the last
    // eight where its lane is 16 or more.
    alignas(64) static constexpr int64_t kPick[3][8] = {
        {0, 3, 6, 9, 12, 15, 18, 21}, {1, 4, 7, 10, 13, 16, 19, 22}, {2, 5, 8, 11, 14, 17, 20, 23}};
    constexpr __mmask16 kLastRest = (1u << (kLastCells * kValuesPerCellLine - 128)) - 1;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i sixteen = _mm512_set1_epi64(16);
    const __m512i field = _mm512_set1_epi64(0xFFFF);
    alignas(64) __m512i packed[kGroups];  // a row of cells' groups so far
    for (int cy = 0; cy < kCellsY; ++cy) {
        const uint8_t* lines = frame + static_cast<size_t>(cy) * kCellPixels * FRAME_LINE_BYTES;
        for (__m512i& p : packed) p = zero;
        for (int line = 0; line < kCellPixels; ++line) {
            const uint8_t* p = lines + line * FRAME_LINE_BYTES;
            for (int g = 0; g < kGroups; ++g, p += kGroupValues) {
                const __m512i rest =
                    g == kGroups - 1
                        ? _mm512_zextsi128_si512(_mm_maskz_loadu_epi8(kLastRest, p + 128))
                        : _mm512_loadu_si512(p + 128);
                const __m512i a = _mm512_sad_epu8(_mm512_loadu_si512(p), zero);
                const __m512i b = _mm512_sad_epu8(_mm512_loadu_si512(p + 64), zero);
                const __m512i c = _mm512_sad_epu8(rest, zero);
                packed[g] = _mm512_add_epi64(
                    packed[g], _mm512_or_si512(a, _mm512_or_si512(_mm512_slli_epi64(b, 16),
                                                                  _mm512_slli_epi64(c, 32))));
            }
        }
        uint16_t* row = sums + cy * kCellsX;
        for (int g = 0; g < kGroups; ++g) {
            const __m512i a = _mm512_and_si512(packed[g], field);
            const __m512i b = _mm512_and_si512(_mm512_srli_epi64(packed[g], 16), field);
            const __m512i c = _mm512_srli_epi64(packed[g], 32);
            __m512i cells = zero;
            for (const int64_t* pick : kPick) {
                const __m512i at = _mm512_load_si512(pick);
                const __m512i low = _mm512_permutex2var_epi64(a, at, b);
                const __mmask8 high = _mm512_cmpge_epi64_mask(at, sixteen);
                cells = _mm512_add_epi64(cells, _mm512_mask_permutexvar_epi64(
                                                    low, high, _mm512_sub_epi64(at, sixteen), c));
            }
            const __m128i out = _mm512_maskz_cvtepi64_epi16(0xFF, cells);
            uint16_t* to = row + g * kGroupCells;
            if (g == kGroups - 1) {
                _mm_mask_storeu_epi16(to, (1u << kLastCells) - 1, out);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to), out);
            }
        }
    }
}
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#endif

}  // namespace

std::vector<CellSummer> cellSummers() {
    std::vector<CellSummer> summers{{"portable", portableCellSums}};
#if defined(__x86_64__)
    if (hasWideVectors()) summers.push_back({"avx512", wideCellSums});
#endif
    return summers;
}

void cellSums(const uint8_t* frame, uint16_t* sums) {
    static const auto sum = cellSummers().back().sum;
    sum(frame, sums);
}

CellSet CellSet::of(const uint8_t* flags) {
    CellSet s;
    int x0 = kCellsX, y0 = kCellsY, x1 = 0, y1 = 0;
    for (int y = 0; y < kCellsY; ++y) {
        const uint8_t* row = flags + y * kCellsX;
        // Most rows of a layer hold nothing: a word at a time tells.
        uint64_t any = 0;
        for (int x = 0; x + 8 <= kCellsX; x += 8) {
            uint64_t w;
            std::memcpy(&w, row + x, sizeof w);
            any |= w;
        }
        for (int x = kCellsX / 8 * 8; x < kCellsX; ++x) any |= row[x];
        if (any == 0) continue;
        for (int x = 0; x < kCellsX; ++x) {
            if (row[x] == 0) continue;
            x0 = std::min(x0, x);
            x1 = std::max(x1, x + 1);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y + 1);
            ++s.count_;
        }
    }
    if (s.count_ == 0) return s;
    s.x0_ = x0;
    s.y0_ = y0;
    s.w_ = x1 - x0;
    s.h_ = y1 - y0;
    s.bits_.assign((static_cast<size_t>(s.w_) * s.h_ + 7) / 8, 0);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (flags[y * kCellsX + x] == 0) continue;
            const size_t i = static_cast<size_t>(y - y0) * s.w_ + (x - x0);
            s.bits_[i / 8] = static_cast<uint8_t>(s.bits_[i / 8] | 1u << (i % 8));
        }
    }
    return s;
}

bool CellSet::operator==(const CellSet& other) const {
    return x0_ == other.x0_ && y0_ == other.y0_ && w_ == other.w_ && h_ == other.h_ &&
           bits_ == other.bits_;
}

double Part::volumeMm3() const {
    double v = 0;
    for (const PartLayer& l : layers_) {
        v += static_cast<double>(l.cells.count()) * kCellAreaMm2 * (l.bottom_mm - l.top_mm);
    }
    return v;
}

uint64_t Part::cells() const {
    uint64_t n = 0;
    for (const PartLayer& l : layers_) n += l.cells.count();
    return n;
}

Box Part::bounds() const {
    Box b;
    bool any = false;
    for (const PartLayer& l : layers_) {
        if (l.cells.empty()) continue;
        const Box lb{l.cells.x0() * kCellWidthMm, l.cells.y0() * kCellHeightMm, l.top_mm,
                     l.cells.x1() * kCellWidthMm, l.cells.y1() * kCellHeightMm, l.bottom_mm};
        if (!any) {
            b = lb;
            any = true;
            continue;
        }
        b.x0 = std::min(b.x0, lb.x0);
        b.y0 = std::min(b.y0, lb.y0);
        b.z0 = std::min(b.z0, lb.z0);
        b.x1 = std::max(b.x1, lb.x1);
        b.y1 = std::max(b.y1, lb.y1);
        b.z1 = std::max(b.z1, lb.z1);
    }
    return b;
}

size_t Part::bytes() const {
    size_t n = layers_.capacity() * sizeof(PartLayer);
    for (const PartLayer& l : layers_) n += l.cells.bytes();
    return n;
}

ModelLayer modelLayer(const uint16_t* sums) {
    // Mean against threshold, exactly: sum against threshold x kCellValues.
    constexpr unsigned lit_at = kLitCell * kCellValues, dark_to = kDarkCell * kCellValues,
                       solid_at = kSolidCell * kCellValues;
    std::vector<uint8_t> lit(kCells), grey(kCells), solid(kCells);
    for (int i = 0; i < kCells; ++i) {
        lit[i] = sums[i] >= lit_at;
        grey[i] = sums[i] > dark_to && sums[i] < lit_at;
        solid[i] = sums[i] >= solid_at;
    }
    return ModelLayer{CellSet::of(lit.data()), CellSet::of(grey.data()), CellSet::of(solid.data())};
}

Part FileModel::part() const {
    Part p;
    for (size_t i = 0; i < layers.size(); ++i) {
        PartLayer l;
        l.top_mm = static_cast<double>(i) * layer_mm;
        l.bottom_mm = static_cast<double>(i + 1) * layer_mm;
        l.cells = layers[i].solid;
        l.cured = !l.cells.empty();
        p.add(std::move(l));
    }
    return p;
}

namespace {

constexpr double kDepthToleranceMm = 0.001;

void noteFirst(PartComparison& c, int layer, int x, int y, std::string what) {
    if (c.first_layer != 0) return;
    c.first_layer = layer;
    c.first_x = x;
    c.first_y = y;
    c.first_what = std::move(what);
}

std::string depths(double top, double bottom) {
    char text[64];
    snprintf(text, sizeof text, "%.4f..%.4f mm", top, bottom);
    return text;
}

}  // namespace

PartComparison compareWithModel(const Part& part, const FileModel& model) {
    PartComparison c;
    const std::vector<PartLayer>& printed = part.layers();
    c.part_layers = static_cast<int>(printed.size());
    c.model_layers = static_cast<int>(model.layers.size());
    const size_t n = std::max(printed.size(), model.layers.size());
    static const CellSet kNone;
    for (size_t i = 0; i < n; ++i) {
        const int layer = static_cast<int>(i) + 1;
        const CellSet& got = i < printed.size() ? printed[i].cells : kNone;
        const ModelLayer* want = i < model.layers.size() ? &model.layers[i] : nullptr;
        if (i < printed.size() && want != nullptr && !got.empty()) {
            const double top = static_cast<double>(i) * model.layer_mm;
            const double bottom = top + model.layer_mm;
            if (std::fabs(printed[i].top_mm - top) > kDepthToleranceMm ||
                std::fabs(printed[i].bottom_mm - bottom) > kDepthToleranceMm) {
                ++c.layers_misplaced;
                noteFirst(c, layer, got.x0(), got.y0(),
                          "layer at " + depths(printed[i].top_mm, printed[i].bottom_mm) +
                              " below the platform, the file's at " + depths(top, bottom));
            }
        }
        // Every cell either set could hold.
        int x0 = got.x0(), y0 = got.y0(), x1 = got.x1(), y1 = got.y1();
        if (want != nullptr && !want->lit.empty()) {
            if (got.empty()) {
                x0 = want->lit.x0(), y0 = want->lit.y0(), x1 = want->lit.x1(), y1 = want->lit.y1();
            } else {
                x0 = std::min(x0, want->lit.x0());
                y0 = std::min(y0, want->lit.y0());
                x1 = std::max(x1, want->lit.x1());
                y1 = std::max(y1, want->lit.y1());
            }
        }
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const bool cured = got.has(x, y);
                const bool lit = want != nullptr && want->lit.has(x, y);
                const bool grey = want != nullptr && want->grey.has(x, y);
                if (grey) {
                    ++c.grey_cells;
                    c.grey_cured += cured ? 1 : 0;
                } else if (lit != cured) {
                    ++c.cells_differ;
                    noteFirst(c, layer, x, y,
                              lit ? "lit in the file, not cured" : "cured, dark in the file");
                }
            }
        }
        // Grey cells outside both boxes are neither cured nor lit.
        if (want != nullptr && !want->grey.empty()) {
            for (int y = want->grey.y0(); y < want->grey.y1(); ++y) {
                for (int x = want->grey.x0(); x < want->grey.x1(); ++x) {
                    if (want->grey.has(x, y) && (x < x0 || x >= x1 || y < y0 || y >= y1)) {
                        ++c.grey_cells;
                    }
                }
            }
        }
    }
    if (c.part_layers != c.model_layers) {
        noteFirst(c, std::min(c.part_layers, c.model_layers) + 1, 0, 0,
                  std::to_string(c.part_layers) + " layers printed, the file has " +
                      std::to_string(c.model_layers));
    }
    c.equal = c.cells_differ == 0 && c.layers_misplaced == 0 && c.part_layers == c.model_layers;
    return c;
}

bool viewByName(const std::string& name, View& view) {
    static const std::pair<const char*, View> kViews[] = {
        {"front", View::Front}, {"side", View::Side}, {"top", View::Top}, {"iso", View::Iso}};
    for (const auto& [n, v] : kViews) {
        if (name == n) {
            view = v;
            return true;
        }
    }
    return false;
}

}  // namespace geometry
