// The geometry a print file describes, on the cells of the printed part:
// every layer decoded as the printer shows it (decodeLayers), no physics.
#pragma once

#include <string>

#include "part.h"

namespace pvk4k {

struct Console;

// Reads `file` into `model`; EXIT_CLEAN, or the reason on the console.
int buildFileModel(const std::string& file, sim::FileModel& model, const Console& con);

}  // namespace pvk4k
