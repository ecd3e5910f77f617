// The print of the simulator's benchmark: 2000 layers of a 20 mm disc with
// grey edges, 6 s exposures and 5 mm lifts. The golden run test holds its
// trace and log against the ones committed.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "firmware/print/layer_code.h"
#include "tests/print_file_builder.h"

namespace bench_print {

constexpr int kLayers = 2000;
constexpr int kExposureMs = 6000;

// One layer of the cylinder: a disc of 10 mm radius in the middle of the
// mask (a pixel is 68/2160 mm), its edge pixels grey by coverage.
inline const std::vector<uint8_t>& discLayer() {
    static const std::vector<uint8_t> code = [] {
        constexpr int kValues = static_cast<int>(FRAME_LINE_BYTES);  // three per pixel
        constexpr int kLines = static_cast<int>(FRAME_HEIGHT);
        const double r = 10.0 / (68.0 / 2160.0), cx = kValues / 6.0, cy = kLines / 2.0;
        std::vector<uint8_t> levels(FRAME_BYTES, 0);
        for (int y = static_cast<int>(cy - r - 2); y <= static_cast<int>(cy + r + 2); ++y) {
            for (int x = 0; x < kValues; ++x) {
                const double d = std::hypot(x / 3 - cx, y - cy);
                const double cover = std::clamp(r - d + 0.5, 0.0, 1.0);
                levels[static_cast<size_t>(y) * kValues + x] =
                    greyLevel(static_cast<uint8_t>(std::lround(cover * 255)));
            }
        }
        return encodeLayer(levels.data(), levels.size());
    }();
    return code;
}

inline std::string printFile() {
    PrintFileBuilder f;
    f.p.ZThick = 0.05f;
    f.p.curing_time = kExposureMs;
    f.p.burnin_range = 0.25f;  // five bottom layers at the builder's 30 s
    f.p.lift_distance1 = 3;
    f.p.lift_speed1 = 60;
    f.p.lift_distance2 = 2;
    f.p.lift_speed2 = 60;
    f.p.drop_speed = 60;
    f.p.layer_count = kLayers;
    f.layers.assign(kLayers, discLayer());
    return f.bytes();
}

}  // namespace bench_print
