// A binary STL read back: its facets, whether it is a closed surface and
// the volume it encloses.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

// Facets of a binary STL and whether it is a closed surface: every edge in
// exactly two facets, once each way. Its volume by the divergence theorem.
struct Mesh {
    uint32_t facets = 0;
    bool closed = false;
    double volume = 0;
};

inline Mesh readStl(const std::string& bytes) {
    Mesh m;
    if (bytes.size() < 84) return m;
    std::memcpy(&m.facets, bytes.data() + 80, 4);
    if (bytes.size() != 84 + size_t{m.facets} * 50) return m;
    using Point = std::tuple<float, float, float>;
    std::map<std::pair<Point, Point>, int> edges;  // directed
    for (uint32_t i = 0; i < m.facets; ++i) {
        float f[12];
        std::memcpy(f, bytes.data() + 84 + size_t{i} * 50, sizeof f);
        const Point p[3] = {{f[3], f[4], f[5]}, {f[6], f[7], f[8]}, {f[9], f[10], f[11]}};
        for (int k = 0; k < 3; ++k) ++edges[{p[k], p[(k + 1) % 3]}];
        const double a[3] = {f[3], f[4], f[5]}, b[3] = {f[6], f[7], f[8]},
                     c[3] = {f[9], f[10], f[11]};
        m.volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                     a[2] * (b[0] * c[1] - b[1] * c[0])) /
                    6;
    }
    m.closed = !edges.empty();
    for (const auto& [edge, n] : edges) {
        const auto back = edges.find({edge.second, edge.first});
        if (n != 1 || back == edges.end() || back->second != 1) m.closed = false;
    }
    return m;
}
