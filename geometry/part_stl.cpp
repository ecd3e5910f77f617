// The part's surface as STL.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "part.h"
#include "solid_layers.h"

namespace geometry {
namespace {

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

}  // namespace geometry
