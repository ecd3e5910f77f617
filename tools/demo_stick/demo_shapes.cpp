// Layer images of a few simple parts for the demo stick: a rounded cube, a
// ring, a stepped pyramid and a gear, with anti-aliased edges.
//
//   demo_shapes SHAPE COUNT DIR   writes DIR/SHAPE-1.png .. DIR/SHAPE-COUNT.png
//
// Shapes are drawn in mask pixels (2160 x 3840, square) and sampled at each
// of a pixel's three values, so parts come out round on the screen. The ring
// is written as 2160 x 3840 RGB, the others as 6480 x 3840 greyscale; both
// carry the same values.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>

#include "firmware/print/layer_code.h"
#include "tools/pvk4k/png_io.h"

namespace {

constexpr float CX = FRAME_WIDTH / 2.0f;
constexpr float CY = FRAME_HEIGHT / 2.0f;

// Signed distance from the shape's edge, in values: negative inside.
using Shape = std::function<float(float x, float y)>;

float roundedSquare(float x, float y, float half, float radius) {
    const float qx = std::fabs(x) - half + radius;
    const float qy = std::fabs(y) - half + radius;
    const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - radius;
}

float gear(float x, float y) {
    constexpr int TEETH = 12;
    constexpr float ROOT = 640, TIP = 800, BORE = 200;
    const float r = std::hypot(x, y);
    const float turn = std::atan2(y, x) / (2 * std::numbers::pi_v<float>)*TEETH;
    const float u = std::fabs(turn - std::floor(turn) - 0.5f);  // 0 at a tooth's middle
    const float rim = ROOT + (TIP - ROOT) * std::clamp((0.3f - u) / 0.1f, 0.0f, 1.0f);
    return std::max(r - rim, BORE - r);
}

// The shape of layer `layer` (0-based) of `count`, and its half extent.
bool shapeOf(const std::string& name, int layer, int count, Shape& shape, float& extent) {
    if (name == "cube") {
        shape = [](float x, float y) { return roundedSquare(x, y, 700, 90); };
        extent = 700;
    } else if (name == "ring") {
        shape = [](float x, float y) { return std::fabs(std::hypot(x, y) - 650) - 150; };
        extent = 800;
    } else if (name == "pyramid") {
        const float step =
            count > 1 ? static_cast<float>(layer) / static_cast<float>(count - 1) : 0;
        const float half = 900 - 700 * step;
        shape = [half](float x, float y) { return roundedSquare(x, y, half, 0); };
        extent = 900;
    } else if (name == "gear") {
        shape = gear;
        extent = 800;
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: demo_shapes cube|ring|pyramid|gear COUNT DIR\n");
        return 2;
    }
    const std::string name = argv[1];
    const int count = atoi(argv[2]);
    if (count < 1 || count > 100) {
        fprintf(stderr, "demo_shapes: COUNT must be 1..100\n");
        return 2;
    }
    for (int layer = 0; layer < count; ++layer) {
        Shape shape;
        float extent = 0;
        if (!shapeOf(name, layer, count, shape, extent)) {
            fprintf(stderr, "demo_shapes: unknown shape %s\n", name.c_str());
            return 2;
        }
        const uint32_t x0 = static_cast<uint32_t>(CX - extent - 2) * 3;
        const uint32_t x1 = static_cast<uint32_t>(CX + extent + 2) * 3;
        const float y0 = CY - extent - 2, y1 = CY + extent + 2;
        const std::string path =
            std::string(argv[3]) + "/" + name + "-" + std::to_string(layer + 1) + ".png";
        const bool rgb = name == "ring";
        std::string error;
        const bool ok = pvk4k::writePng(
            path, rgb ? FRAME_WIDTH : FRAME_LINE_BYTES, FRAME_HEIGHT, rgb ? 3 : 1,
            [&](uint32_t y, uint8_t* row) {
                std::fill_n(row, FRAME_LINE_BYTES, 0);
                const float fy = static_cast<float>(y) + 0.5f;
                if (fy < y0 || fy > y1) return;
                for (uint32_t x = x0; x < x1; ++x) {
                    // Coverage of the value's third of a pixel by the edge, a
                    // ramp about a pixel wide, on the printer's 16 levels.
                    const float px = (static_cast<float>(x) + 0.5f) / 3.0f;
                    const float d = shape(px - CX, fy - CY);
                    const long level = std::lround(15 * std::clamp(0.5f - d, 0.0f, 1.0f));
                    row[x] = static_cast<uint8_t>(level * 17);
                }
            },
            error);
        if (!ok) {
            fprintf(stderr, "demo_shapes: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
