// A layer's code made straight from lit rectangles of the mask, without a
// frame of levels: what test files and the campaign's generated files are
// made of.
#pragma once

#include <cstdint>
#include <vector>

namespace geometry {

// Mask pixels x0 <= x < x1, y0 <= y < y1.
struct PixelRect {
    uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The code of a layer lighting `lit` at `level` (0..15), dark elsewhere:
// rectangles are clipped to the frame, and where they overlap a pixel is
// lit once.
std::vector<uint8_t> codeOfRects(const std::vector<PixelRect>& lit, uint8_t level = 15);

}  // namespace geometry
