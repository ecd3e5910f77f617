// A binary STL read back: its facets, whether it is a closed surface and
// the volume it encloses.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace geometry {

// Facets of a binary STL and whether it is a closed surface: every edge in
// exactly two facets, once each way. Its volume by the divergence theorem.
// Points are the same when their floats are the same bits, as a mesh tool
// that joins facets exactly takes them.
struct Mesh {
    uint32_t facets = 0;
    bool closed = false;
    uint32_t degenerate = 0;  // facets with a corner twice
    uint32_t misturned = 0;   // facets whose normal points against their corners' order
    size_t parts = 0;         // sets of facets joined through their edges
    double volume = 0;
};

inline Mesh readStl(const std::string& bytes) {
    Mesh m;
    if (bytes.size() < 84) return m;
    std::memcpy(&m.facets, bytes.data() + 80, 4);
    if (bytes.size() != 84 + size_t{m.facets} * 50) return m;
    // Corners as the bits of their floats; each distinct point numbered.
    using Point = std::array<uint32_t, 3>;
    std::vector<Point> corners(size_t{m.facets} * 3);
    double origin[3] = {};  // near the part, so the sum cancels little
    for (uint32_t i = 0; i < m.facets; ++i) {
        float f[12];
        std::memcpy(f, bytes.data() + 84 + size_t{i} * 50, sizeof f);
        if (i == 0) origin[0] = f[3], origin[1] = f[4], origin[2] = f[5];
        double d[3][3];
        for (int k = 0; k < 3; ++k) {
            std::memcpy(corners[size_t{i} * 3 + k].data(), f + 3 + 3 * k, sizeof(Point));
            for (int j = 0; j < 3; ++j) d[k][j] = f[3 + 3 * k + j] - origin[j];
        }
        const Point* p = &corners[size_t{i} * 3];
        if (p[0] == p[1] || p[1] == p[2] || p[2] == p[0]) ++m.degenerate;
        const double u[3] = {d[1][0] - d[0][0], d[1][1] - d[0][1], d[1][2] - d[0][2]};
        const double v[3] = {d[2][0] - d[0][0], d[2][1] - d[0][1], d[2][2] - d[0][2]};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
        if (n[0] * f[0] + n[1] * f[1] + n[2] * f[2] <= 0) ++m.misturned;
        m.volume += (d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1]) -
                     d[0][1] * (d[1][0] * d[2][2] - d[1][2] * d[2][0]) +
                     d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0])) /
                    6;
    }
    auto before = [](const Point& a, const Point& b) {
        return a[0] != b[0] ? a[0] < b[0] : a[1] != b[1] ? a[1] < b[1] : a[2] < b[2];
    };
    std::vector<Point> points = corners;
    std::sort(points.begin(), points.end(), before);
    points.erase(std::unique(points.begin(), points.end()), points.end());
    auto id = [&](const Point& p) {
        return static_cast<uint64_t>(std::lower_bound(points.begin(), points.end(), p, before) -
                                     points.begin());
    };
    // Directed edges, (from << 32 | to, facet).
    std::vector<std::pair<uint64_t, uint32_t>> edges;
    edges.reserve(corners.size());
    for (uint32_t i = 0; i < m.facets; ++i) {
        const uint64_t c[3] = {id(corners[size_t{i} * 3]), id(corners[size_t{i} * 3 + 1]),
                               id(corners[size_t{i} * 3 + 2])};
        for (int k = 0; k < 3; ++k) edges.push_back({c[k] << 32 | c[(k + 1) % 3], i});
    }
    std::sort(edges.begin(), edges.end());
    std::vector<uint32_t> root(m.facets);
    std::iota(root.begin(), root.end(), 0u);
    auto find = [&](uint32_t a) {
        while (root[a] != a) a = root[a] = root[root[a]];
        return a;
    };
    m.closed = !edges.empty();
    for (size_t i = 0; i < edges.size(); ++i) {
        const uint64_t e = edges[i].first;
        if (i > 0 && edges[i - 1].first == e) m.closed = false;
        const uint64_t reverse = e << 32 | e >> 32;
        const auto back = std::lower_bound(edges.begin(), edges.end(), std::pair{reverse, 0u});
        if (back == edges.end() || back->first != reverse) {
            m.closed = false;
            continue;
        }
        root[find(edges[i].second)] = find(back->second);
    }
    for (uint32_t i = 0; i < m.facets; ++i) m.parts += find(i) == i ? 1 : 0;
    return m;
}

}  // namespace geometry
