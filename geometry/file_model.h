// The geometry a print file describes, on the cells of the printed part:
// every layer decoded as the printer shows it (walkLayers), no physics.
#pragma once

#include <string>

#include "layer_walk.h"
#include "part.h"

namespace geometry {

// Reads `file` into `model`; "" when every layer decoded, else why not.
std::string buildFileModel(const std::string& file, FileModel& model,
                           const WalkReport& report = {});

}  // namespace geometry
