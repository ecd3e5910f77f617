// The part's pictures: seen from the front, the side, the film, and at an
// angle from below.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "part.h"
#include "solid_layers.h"

namespace geometry {
namespace {

constexpr int kViewSize = 360;  // the longer side of a picture
constexpr uint8_t kBackground[3] = {246, 246, 242};
constexpr uint8_t kPlatform[3] = {120, 124, 132};

struct Canvas {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    std::vector<float> nearness;

    Canvas(int width, int height)
        : w(width),
          h(height),
          rgb(static_cast<size_t>(width) * height * 3),
          nearness(static_cast<size_t>(width) * height, -std::numeric_limits<float>::infinity()) {
        for (size_t i = 0; i < rgb.size(); i += 3) std::memcpy(&rgb[i], kBackground, 3);
    }
    // A rectangle of pixels at `near`, drawn where nothing nearer is.
    void fill(double x0, double y0, double x1, double y1, float near, float shade) {
        const int ix0 = std::clamp(static_cast<int>(std::floor(x0)), 0, w);
        const int iy0 = std::clamp(static_cast<int>(std::floor(y0)), 0, h);
        const int ix1 = std::clamp(static_cast<int>(std::ceil(x1)), 0, w);
        const int iy1 = std::clamp(static_cast<int>(std::ceil(y1)), 0, h);
        // Resin blue, lighter the nearer.
        const uint8_t c[3] = {static_cast<uint8_t>(40 + 120 * shade),
                              static_cast<uint8_t>(90 + 110 * shade),
                              static_cast<uint8_t>(150 + 100 * shade)};
        for (int y = iy0; y < iy1; ++y) {
            for (int x = ix0; x < ix1; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                if (near <= nearness[i]) continue;
                nearness[i] = near;
                std::memcpy(&rgb[i * 3], c, 3);
            }
        }
    }
    void band(int y0, int y1) {
        for (int y = std::max(0, y0); y < std::min(h, y1); ++y) {
            for (int x = 0; x < w; ++x)
                std::memcpy(&rgb[(static_cast<size_t>(y) * w + x) * 3], kPlatform, 3);
        }
    }
};

// Scale and canvas for a picture of `across` by `down` mm with the platform
// band on top.
struct Frame {
    double scale = 1;  // pixels per mm
    int margin = 8, band = 6;
    int width = 0, height = 0;
};

Frame frameFor(double across, double down) {
    Frame f;
    across = std::max(across, 1.0);
    down = std::max(down, 1.0);
    f.scale = (kViewSize - 2 * f.margin) / std::max(across, down);
    f.width = static_cast<int>(std::ceil(across * f.scale)) + 2 * f.margin;
    f.height = static_cast<int>(std::ceil(down * f.scale)) + 2 * f.margin + f.band;
    return f;
}

float shadeOf(double v, double lo, double hi) {
    return hi - lo < 1e-9 ? 1.0f : static_cast<float>(std::clamp((v - lo) / (hi - lo), 0.0, 1.0));
}

}  // namespace

std::vector<uint8_t> renderView(const Part& part, View view, int& width, int& height) {
    const Box b = part.bounds();
    const std::vector<const PartLayer*> layers = solidLayers(part);
    const double depth = std::max(b.z1, 0.0);
    if (view == View::Top) {
        // As seen from the film: the lowest layer of each column nearest.
        const Frame f = frameFor(b.x1 - b.x0, b.y1 - b.y0);
        Canvas c(f.width, f.height);
        const int top = f.margin + f.band;
        for (const PartLayer* l : layers) {
            const float shade = shadeOf(l->bottom_mm, 0, depth);
            for (int y = l->cells.y0(); y < l->cells.y1(); ++y) {
                for (int x = l->cells.x0(); x < l->cells.x1(); ++x) {
                    if (!l->cells.has(x, y)) continue;
                    c.fill(f.margin + (x * kCellWidthMm - b.x0) * f.scale,
                           top + (y * kCellHeightMm - b.y0) * f.scale,
                           f.margin + ((x + 1) * kCellWidthMm - b.x0) * f.scale,
                           top + ((y + 1) * kCellHeightMm - b.y0) * f.scale,
                           static_cast<float>(l->bottom_mm), 0.25f + 0.75f * shade);
                }
            }
        }
        width = c.w;
        height = c.h;
        return std::move(c.rgb);
    }
    if (view == View::Front || view == View::Side) {
        // Across: x (front, seen from the first lines) or y (side, from the
        // first columns); down: depth below the platform.
        const bool front = view == View::Front;
        const double a0 = front ? b.x0 : b.y0, a1 = front ? b.x1 : b.y1;
        const double n0 = front ? b.y0 : b.x0, n1 = front ? b.y1 : b.x1;
        const Frame f = frameFor(a1 - a0, depth);
        Canvas c(f.width, f.height);
        c.band(f.margin, f.margin + f.band);
        const int top = f.margin + f.band;
        const double cellA = front ? kCellWidthMm : kCellHeightMm;
        const double cellN = front ? kCellHeightMm : kCellWidthMm;
        std::vector<int> nearest;
        for (const PartLayer* l : layers) {
            const int lo = front ? l->cells.x0() : l->cells.y0();
            const int hi = front ? l->cells.x1() : l->cells.y1();
            nearest.assign(static_cast<size_t>(hi - lo), -1);
            for (int y = l->cells.y0(); y < l->cells.y1(); ++y) {
                for (int x = l->cells.x0(); x < l->cells.x1(); ++x) {
                    if (!l->cells.has(x, y)) continue;
                    const int a = (front ? x : y) - lo;
                    const int n = front ? y : x;
                    if (nearest[a] < 0 || n < nearest[a]) nearest[a] = n;
                }
            }
            for (int a = 0; a < hi - lo; ++a) {
                if (nearest[a] < 0) continue;
                const double n = nearest[a] * cellN;
                c.fill(f.margin + ((lo + a) * cellA - a0) * f.scale, top + l->top_mm * f.scale,
                       f.margin + ((lo + a + 1) * cellA - a0) * f.scale,
                       top + l->bottom_mm * f.scale, static_cast<float>(-n),
                       0.35f + 0.65f * (1.0f - shadeOf(n, n0, n1)));
            }
        }
        width = c.w;
        height = c.h;
        return std::move(c.rgb);
    }
    // Isometric, seen from below the platform at the part's far corner.
    const double r = 1 / std::sqrt(2.0), u = 1 / std::sqrt(6.0), v = 1 / std::sqrt(3.0);
    auto across = [&](double x, double y, double) { return (x - y) * r; };
    auto down = [&](double x, double y, double z) { return -(x + y - 2 * z) * u; };
    auto near = [&](double x, double y, double z) { return (x + y + z) * v; };
    double ax0 = 1e18, ax1 = -1e18, dy0 = 1e18, dy1 = -1e18;
    for (double x : {b.x0, b.x1}) {
        for (double y : {b.y0, b.y1}) {
            for (double z : {0.0, depth}) {
                ax0 = std::min(ax0, across(x, y, z));
                ax1 = std::max(ax1, across(x, y, z));
                dy0 = std::min(dy0, down(x, y, z));
                dy1 = std::max(dy1, down(x, y, z));
            }
        }
    }
    const Frame f = frameFor(ax1 - ax0, dy1 - dy0);
    Canvas c(f.width, f.height);
    c.band(f.margin, f.margin + f.band);
    const int top = f.margin + f.band;
    const double nearLo = near(b.x0, b.y0, 0), nearHi = near(b.x1, b.y1, depth);
    const double halfA = (kCellWidthMm + kCellHeightMm) * r / 2 * f.scale + 0.5;
    for (size_t i = 0; i < layers.size(); ++i) {
        const PartLayer* l = layers[i];
        const PartLayer* below =
            i + 1 < layers.size() && touches(*l, *layers[i + 1]) ? layers[i + 1] : nullptr;
        const double halfD =
            ((kCellWidthMm + kCellHeightMm) / 2 + (l->bottom_mm - l->top_mm)) * u * f.scale + 0.5;
        const double zc = (l->top_mm + l->bottom_mm) / 2;
        for (int y = l->cells.y0(); y < l->cells.y1(); ++y) {
            for (int x = l->cells.x0(); x < l->cells.x1(); ++x) {
                if (!l->cells.has(x, y)) continue;
                // Only the cells the eye can reach: an empty neighbour on a
                // side it looks at.
                const bool openX = !l->cells.has(x + 1, y), openY = !l->cells.has(x, y + 1);
                const bool openZ = !inLayer(below, x, y);
                if (!openX && !openY && !openZ) continue;
                // Faces turned from the light darker, so edges show.
                const float face = openZ ? 1.0f : openX ? 0.75f : 0.6f;
                const double xc = (x + 0.5) * kCellWidthMm, yc = (y + 0.5) * kCellHeightMm;
                const double sa = f.margin + (across(xc, yc, zc) - ax0) * f.scale;
                const double sd = top + (down(xc, yc, zc) - dy0) * f.scale;
                const double n = near(xc, yc, zc);
                // Lighter the deeper, every other layer a shade darker, so
                // the steps of a flat part show.
                const float shade =
                    (0.3f + 0.4f * shadeOf(zc, 0, depth) + 0.3f * shadeOf(n, nearLo, nearHi)) *
                    (i % 2 != 0 ? 0.85f : 1.0f);
                c.fill(sa - halfA, sd - halfD, sa + halfA, sd + halfD, static_cast<float>(n),
                       face * shade);
            }
        }
    }
    width = c.w;
    height = c.h;
    return std::move(c.rgb);
}

}  // namespace geometry
