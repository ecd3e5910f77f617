// PNG encoding of the simulator's screens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Encodes 8-bit RGB pixels (3 bytes each, row-major). "" on failure.
std::string encodePng(const uint8_t* rgb, int width, int height);

// RGB565 pixels to 8-bit RGB, each channel widened to its full range.
std::vector<uint8_t> rgb565ToRgb(const std::vector<uint16_t>& pixels);

}  // namespace sim
