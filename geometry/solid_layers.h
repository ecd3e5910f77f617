// The layers of a part that hold solid, as the surface and the pictures see
// them. Internal to the part's geometry.
#pragma once

#include <vector>

#include "part.h"

namespace geometry {

// Depths as the STL holds them. Whether two layers touch, and whether a
// layer has a thickness at all, is decided there: faces that meet in the
// file must share their corners bit for bit.
inline float zOf(double mm) {
    return static_cast<float>(mm);
}

// The layers that have a thickness, in order; a layer of none (the platform
// did not rise) adds no solid.
inline std::vector<const PartLayer*> solidLayers(const Part& part) {
    std::vector<const PartLayer*> out;
    for (const PartLayer& l : part.layers()) {
        if (!l.cells.empty() && l.bottom_mm - l.top_mm > 1e-9 && zOf(l.bottom_mm) > zOf(l.top_mm)) {
            out.push_back(&l);
        }
    }
    return out;
}

inline bool inLayer(const PartLayer* l, int x, int y) {
    return l != nullptr && l->cells.has(x, y);
}

// Layer `lower` continues layer `upper` when it starts where that one ends.
inline bool touches(const PartLayer& upper, const PartLayer& lower) {
    return zOf(upper.bottom_mm) == zOf(lower.top_mm);
}

}  // namespace geometry
