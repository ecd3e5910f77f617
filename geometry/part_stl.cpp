// The part's surface as STL and its pictures.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "part.h"

namespace geometry {
namespace {

// Depths as the STL holds them. Whether two layers touch, and whether a
// layer has a thickness at all, is decided there: faces that meet in the
// file must share their corners bit for bit.
float zOf(double mm) {
    return static_cast<float>(mm);
}

// The layers that have a thickness, in order; a layer of none (the platform
// did not rise) adds no solid.
std::vector<const PartLayer*> solidLayers(const Part& part) {
    std::vector<const PartLayer*> out;
    for (const PartLayer& l : part.layers()) {
        if (!l.cells.empty() && l.bottom_mm - l.top_mm > 1e-9 && zOf(l.bottom_mm) > zOf(l.top_mm)) {
            out.push_back(&l);
        }
    }
    return out;
}

bool inLayer(const PartLayer* l, int x, int y) {
    return l != nullptr && l->cells.has(x, y);
}

// Layer `lower` continues layer `upper` when it starts where that one ends.
bool touches(const PartLayer& upper, const PartLayer& lower) {
    return zOf(upper.bottom_mm) == zOf(lower.top_mm);
}

// A cell's faces: 2 * axis looks along -axis, 2 * axis + 1 along +axis
// (x, y, z); z grows away from the platform, so face 4 is a cell's top.
constexpr int kFaces = 6;
constexpr int kDx[kFaces] = {-1, 1, 0, 0, 0, 0};
constexpr int kDy[kFaces] = {0, 0, -1, 1, 0, 0};

// How far a cell's faces on a pinched edge (below) are drawn in: this part
// of the way from the edge's middle to the cell's centre. Such an edge takes
// k / 12 of both its cells, and a cell has twelve edges, so the mesh holds
// at least 1 - k of the cells' volume; at the mask's far end the point
// still lies some 16 float steps off the edge.
constexpr double kInset = 0.001;

using V3 = std::array<float, 3>;

class StlWriter {
  public:
    explicit StlWriter(const std::function<void(const char*, size_t)>& out) : out_(out) {}
    ~StlWriter() { flush(); }
    StlWriter(const StlWriter&) = delete;
    StlWriter& operator=(const StlWriter&) = delete;

    void triangle(const V3& n, const V3& a, const V3& b, const V3& c) {
        char rec[50];
        const float f[12] = {n[0], n[1], n[2], a[0], a[1], a[2],
                             b[0], b[1], b[2], c[0], c[1], c[2]};
        std::memcpy(rec, f, sizeof f);
        rec[48] = rec[49] = 0;
        raw(rec, sizeof rec);
    }
    // A triangle off its face's plane, with the normal of its own corners.
    void tilted(const V3& a, const V3& b, const V3& c) {
        const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
        const double v[3] = {double{c[0]} - a[0], double{c[1]} - a[1], double{c[2]} - a[2]};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const double s = len > 0 ? 1 / len : 0;
        triangle({static_cast<float>(n[0] * s), static_cast<float>(n[1] * s),
                  static_cast<float>(n[2] * s)},
                 a, b, c);
    }
    void raw(const void* p, size_t n) {
        if (buffer_.size() + n > kChunk) flush();
        buffer_.append(static_cast<const char*>(p), n);
    }
    void flush() {
        if (!buffer_.empty()) out_(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

  private:
    static constexpr size_t kChunk = 1 << 16;
    const std::function<void(const char*, size_t)>& out_;
    std::string buffer_;
};

// Every face of every cell that borders emptiness, handed to `face` with the
// edges it shares with the cell's other faces that are pinched: bit g of
// `pinched` for the edge it shares with face g. An edge is pinched where the
// cell diagonally across it is filled and the two beside it are empty; four
// faces meet there, two of each cell.
template <class Face>
void forEachFace(const std::vector<const PartLayer*>& layers, Face face) {
    for (size_t i = 0; i < layers.size(); ++i) {
        const PartLayer& l = *layers[i];
        const PartLayer* above = i > 0 && touches(*layers[i - 1], l) ? layers[i - 1] : nullptr;
        const PartLayer* below =
            i + 1 < layers.size() && touches(l, *layers[i + 1]) ? layers[i + 1] : nullptr;
        for (int y = l.cells.y0(); y < l.cells.y1(); ++y) {
            for (int x = l.cells.x0(); x < l.cells.x1(); ++x) {
                if (!l.cells.has(x, y)) continue;
                const unsigned open = (l.cells.has(x - 1, y) ? 0u : 1u << 0) |
                                      (l.cells.has(x + 1, y) ? 0u : 1u << 1) |
                                      (l.cells.has(x, y - 1) ? 0u : 1u << 2) |
                                      (l.cells.has(x, y + 1) ? 0u : 1u << 3) |
                                      (inLayer(above, x, y) ? 0u : 1u << 4) |
                                      (inLayer(below, x, y) ? 0u : 1u << 5);
                if (open == 0) continue;
                unsigned pinched[kFaces] = {};
                for (int f = 0; f < 4; ++f) {
                    if ((open >> f & 1u) == 0) continue;
                    for (int g = f < 2 ? 2 : 4; g < kFaces; ++g) {
                        if ((open >> g & 1u) == 0) continue;
                        const PartLayer* across = g < 4 ? &l : g == 4 ? above : below;
                        if (inLayer(across, x + kDx[f] + kDx[g], y + kDy[f] + kDy[g])) {
                            pinched[f] |= 1u << g;
                            pinched[g] |= 1u << f;
                        }
                    }
                }
                for (int f = 0; f < kFaces; ++f) {
                    if ((open >> f & 1u) != 0) face(l, x, y, f, pinched[f]);
                }
            }
        }
    }
}

unsigned trianglesOf(unsigned pinched) {
    return pinched == 0 ? 2 : 4 + static_cast<unsigned>(std::popcount(pinched));
}

// Face `f` of cell (x, y) of `l`, outward. On a pinched edge its side bends
// in to a point just inside the cell, the same for both the cell's faces
// there, so the two cells' surfaces meet only at the edge's ends.
void writeFace(StlWriter& w, const PartLayer& l, int x, int y, int f, unsigned pinched) {
    const double lo[3] = {x * kCellWidthMm, y * kCellHeightMm, l.top_mm};
    const double hi[3] = {(x + 1) * kCellWidthMm, (y + 1) * kCellHeightMm, l.bottom_mm};
    const int a = f / 2, u = (a + 1) % 3, v = (a + 2) % 3;
    const bool outwards = f % 2 != 0;  // the face looks along +a
    const float plane = static_cast<float>(outwards ? hi[a] : lo[a]);
    auto point = [&](double pu, double pv) {
        V3 p;
        p[a] = plane;
        p[u] = static_cast<float>(pu);
        p[v] = static_cast<float>(pv);
        return p;
    };
    // Counter-clockwise seen from +a: (u, v, a) is right-handed.
    const V3 corner[4] = {point(lo[u], lo[v]), point(hi[u], lo[v]), point(hi[u], hi[v]),
                          point(lo[u], hi[v])};
    if (pinched == 0) {
        V3 n = {0, 0, 0};
        n[a] = outwards ? 1.0f : -1.0f;
        if (outwards) {
            w.triangle(n, corner[0], corner[1], corner[2]);
            w.triangle(n, corner[0], corner[2], corner[3]);
        } else {
            w.triangle(n, corner[0], corner[2], corner[1]);
            w.triangle(n, corner[0], corner[3], corner[2]);
        }
        return;
    }
    // The faces beyond each side, corner i to corner i + 1.
    const int beyond[4] = {2 * v, 2 * u + 1, 2 * v + 1, 2 * u};
    V3 ring[8];
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        ring[n++] = corner[i];
        const int g = beyond[i];
        if ((pinched >> g & 1u) == 0) continue;
        // Along both faces' axes a step in from the edge, along the edge its
        // middle: from the cell and the edge alone, whichever face asks.
        V3 m;
        for (int j = 0; j < 3; ++j) {
            const double step = kInset * (hi[j] - lo[j]) / 2;
            const int side = j == a ? f : j == g / 2 ? g : -1;
            m[j] = static_cast<float>(side < 0        ? (lo[j] + hi[j]) / 2
                                      : side % 2 != 0 ? hi[j] - step
                                                      : lo[j] + step);
        }
        ring[n++] = m;
    }
    if (!outwards) std::reverse(ring, ring + n);
    const V3 centre = point((lo[u] + hi[u]) / 2, (lo[v] + hi[v]) / 2);
    for (int i = 0; i < n; ++i) w.tilted(centre, ring[i], ring[(i + 1) % n]);
}

}  // namespace

uint64_t writeStl(const Part& part, const std::function<void(const char*, size_t)>& out) {
    const std::vector<const PartLayer*> layers = solidLayers(part);
    uint64_t triangles = 0;
    forEachFace(layers,
                [&](const PartLayer&, int, int, int, unsigned p) { triangles += trianglesOf(p); });
    StlWriter w(out);
    char header[80] = {};
    snprintf(header, sizeof header, "printer-sim part: %zu layers, cells of %.4f x %.4f mm",
             part.layers().size(), kCellWidthMm, kCellHeightMm);
    w.raw(header, sizeof header);
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(triangles, std::numeric_limits<uint32_t>::max()));
    w.raw(&count, sizeof count);
    forEachFace(layers, [&](const PartLayer& l, int x, int y, int f, unsigned p) {
        writeFace(w, l, x, y, f, p);
    });
    w.flush();
    return triangles;
}

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
