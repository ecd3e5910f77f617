// The walk over a print file's layers as the printer shows them: every
// layer decoded in turn onto one frame (a layer that does not cover the
// whole frame leaves the rest as the one before left it). pvk4k render and
// the file's model both stand on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct PrintParameter;

namespace geometry {

constexpr uint32_t kAllLayers = UINT32_MAX;
using LayerVisitor = std::function<void(uint32_t layer, const uint8_t* frame)>;

// What a walk says on its way: its warnings, and how far it has come.
struct WalkReport {
    std::function<void(const std::string&)> warn;
    std::function<void(uint32_t layer, uint32_t last)> step;
};

// Decodes layers 1..last (kAllLayers: all) of `file`, handing the frame to
// `each` after every layer; `block` gets the parameter block. "" when every
// layer decoded, else why not (one line).
std::string walkLayers(const std::string& file, uint32_t last, const LayerVisitor& each,
                       const WalkReport& report = {}, PrintParameter* block = nullptr);

}  // namespace geometry
