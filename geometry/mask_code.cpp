#include "mask_code.h"

#include <algorithm>
#include <utility>

#include "firmware/print/layer_code.h"

namespace geometry {
namespace {

// Runs of one level, merged as the coding merges them.
class Runs {
  public:
    void add(uint8_t level, uint32_t values) {
        if (values == 0) return;
        if (!runs_.empty() && runs_.back().first == level) {
            runs_.back().second += values;
        } else {
            runs_.emplace_back(level, values);
        }
    }
    std::vector<uint8_t> code() const {
        std::vector<uint8_t> out;
        for (const auto& [level, length] : runs_) {
            int digits = 1;
            while (digits < 8 && (length >> (4 * digits)) != 0) ++digits;
            for (int d = digits - 1; d >= 0; --d) {
                out.push_back(static_cast<uint8_t>(level << 4 | ((length >> (4 * d)) & 0x0F)));
            }
        }
        return out;
    }

  private:
    std::vector<std::pair<uint8_t, uint32_t>> runs_;
};

}  // namespace

std::vector<uint8_t> codeOfRects(const std::vector<PixelRect>& lit, uint8_t level) {
    level = std::min<uint8_t>(level, 15);
    Runs runs;
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // [x0, x1) of one line
    for (uint32_t y = 0; y < FRAME_HEIGHT; ++y) {
        spans.clear();
        for (const PixelRect& r : lit) {
            const uint32_t x0 = std::min(r.x0, FRAME_WIDTH), x1 = std::min(r.x1, FRAME_WIDTH);
            if (y >= r.y0 && y < r.y1 && x0 < x1) spans.emplace_back(x0, x1);
        }
        std::sort(spans.begin(), spans.end());
        uint32_t x = 0;
        for (const auto& [x0, x1] : spans) {
            if (x1 <= x) continue;
            runs.add(0, 3 * (std::max(x0, x) - x));
            runs.add(level, 3 * (x1 - std::max(x0, x)));
            x = x1;
        }
        runs.add(0, 3 * (FRAME_WIDTH - x));
    }
    return runs.code();
}

}  // namespace geometry
