#include "thumbnail.h"

#include <algorithm>
#include <cmath>

#include "firmware/print/layer_code.h"

namespace pvk4k {
namespace {

constexpr float BACKGROUND[3] = {20, 24, 32};
constexpr float PART[3] = {225, 238, 255};

uint8_t narrow(uint8_t v, int bits) {
    const int top = (1 << bits) - 1;
    return static_cast<uint8_t>((v * top + 127) / 255);
}

uint8_t widen(int v, int bits) {
    const int top = (1 << bits) - 1;
    return static_cast<uint8_t>((v * 255 + top / 2) / top);
}

}  // namespace

std::vector<uint8_t> rgbToThumb(const uint8_t* rgb, size_t pixels) {
    std::vector<uint8_t> out(pixels * 2);
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned v = narrow(rgb[3 * i], 5) << 11 | narrow(rgb[3 * i + 1], 6) << 5 |
                           narrow(rgb[3 * i + 2], 5);
        out[2 * i] = static_cast<uint8_t>(v >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(v);
    }
    return out;
}

std::vector<uint8_t> thumbToRgb(const uint8_t* thumb, size_t pixels) {
    std::vector<uint8_t> out(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        const int v = thumb[2 * i] << 8 | thumb[2 * i + 1];
        out[3 * i] = widen((v >> 11) & 31, 5);
        out[3 * i + 1] = widen((v >> 5) & 63, 6);
        out[3 * i + 2] = widen(v & 31, 5);
    }
    return out;
}

Silhouette::Silhouette()
    : columns_(FRAME_WIDTH / CELL),
      rows_(FRAME_HEIGHT / CELL),
      last_(size_t{columns_} * rows_),
      coverage_(last_.size()),
      litLayers_(last_.size()) {
    static_assert(FRAME_WIDTH % CELL == 0 && FRAME_HEIGHT % CELL == 0);
}

void Silhouette::add(const uint8_t* levels) {
    std::fill(last_.begin(), last_.end(), 0);
    for (uint32_t y = 0; y < FRAME_HEIGHT; ++y) {
        const uint8_t* line = levels + size_t{y} * FRAME_LINE_BYTES;
        uint8_t* cells = last_.data() + size_t{y / CELL} * columns_;
        // A cell is CELL pixels (three values each) by CELL lines: square on the mask.
        for (uint32_t x = 0; x < FRAME_LINE_BYTES; ++x) cells[x / (3 * CELL)] += line[x] != 0;
    }
    merge();
}

void Silhouette::repeat() {
    merge();
}

void Silhouette::merge() {
    ++layers_;
    for (size_t i = 0; i < last_.size(); ++i) {
        coverage_[i] = std::max(coverage_[i], last_[i]);
        litLayers_[i] += last_[i] != 0;
    }
}

std::vector<uint8_t> Silhouette::thumbnail(uint32_t width, uint32_t height) const {
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (size_t i = 0; i < size_t{width} * height; ++i) {
        for (int c = 0; c < 3; ++c) rgb[3 * i + c] = static_cast<uint8_t>(BACKGROUND[c]);
    }
    // The part's extent in cells, with a margin.
    uint32_t x0 = columns_, y0 = rows_, x1 = 0, y1 = 0;
    for (uint32_t y = 0; y < rows_; ++y) {
        for (uint32_t x = 0; x < columns_; ++x) {
            if (coverage_[size_t{y} * columns_ + x] == 0) continue;
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x + 1);
            y1 = std::max(y1, y + 1);
        }
    }
    if (x1 == 0 || width == 0 || height == 0) return rgbToThumb(rgb.data(), size_t{width} * height);
    const float margin = std::max(1.0f, 0.08f * static_cast<float>(std::max(x1 - x0, y1 - y0)));
    const float left = static_cast<float>(x0) - margin;
    const float top = static_cast<float>(y0) - margin;
    const float spanX = static_cast<float>(x1 - x0) + 2 * margin;
    const float spanY = static_cast<float>(y1 - y0) + 2 * margin;
    const float scale = std::min(static_cast<float>(width) / spanX,
                                 static_cast<float>(height) / spanY);  // pixels per cell
    const float offX = (static_cast<float>(width) - spanX * scale) / 2;
    const float offY = (static_cast<float>(height) - spanY * scale) / 2;
    const float cellsPerPixel = 1 / scale;
    const float fullCell = 3 * CELL * CELL;

    for (uint32_t ty = 0; ty < height; ++ty) {
        const float sy0 = top + (static_cast<float>(ty) - offY) * cellsPerPixel;
        const float sy1 = sy0 + cellsPerPixel;
        for (uint32_t tx = 0; tx < width; ++tx) {
            const float sx0 = left + (static_cast<float>(tx) - offX) * cellsPerPixel;
            const float sx1 = sx0 + cellsPerPixel;
            // Box filter over the cells the pixel covers.
            float area = 0, lit = 0, shade = 0;
            for (int cy = static_cast<int>(std::floor(sy0)); cy < std::ceil(sy1); ++cy) {
                const float wy = std::min(sy1, cy + 1.0f) - std::max(sy0, static_cast<float>(cy));
                for (int cx = static_cast<int>(std::floor(sx0)); cx < std::ceil(sx1); ++cx) {
                    const float w =
                        wy * (std::min(sx1, cx + 1.0f) - std::max(sx0, static_cast<float>(cx)));
                    area += w;
                    if (cx < 0 || cy < 0 || cx >= static_cast<int>(columns_) ||
                        cy >= static_cast<int>(rows_)) {
                        continue;
                    }
                    const size_t i = static_cast<size_t>(cy) * columns_ + static_cast<size_t>(cx);
                    const float cover = w * static_cast<float>(coverage_[i]) / fullCell;
                    lit += cover;
                    shade +=
                        cover * static_cast<float>(litLayers_[i]) / static_cast<float>(layers_);
                }
            }
            if (lit <= 0 || area <= 0) continue;
            const float alpha = std::min(1.0f, lit / area);
            const float bright = 0.55f + 0.45f * shade / lit;
            uint8_t* px = &rgb[(size_t{ty} * width + tx) * 3];
            for (int c = 0; c < 3; ++c) {
                const float v = BACKGROUND[c] + alpha * (PART[c] * bright - BACKGROUND[c]);
                px[c] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
            }
        }
    }
    return rgbToThumb(rgb.data(), size_t{width} * height);
}

}  // namespace pvk4k
