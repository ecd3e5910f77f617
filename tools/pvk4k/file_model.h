// The geometry a print file describes, on the cells of the printed part:
// every layer decoded with the firmware's own decoder onto a frame, as the
// printer shows it (a layer that does not cover the frame leaves the rest as
// the layer before left it), no physics.
#pragma once

#include <string>

#include "part.h"

namespace pvk4k {

struct Console;

// Reads `file` into `model`. "" or why it cannot be read.
std::string buildFileModel(const std::string& file, sim::FileModel& model,
                           const Console* progress = nullptr);

}  // namespace pvk4k
