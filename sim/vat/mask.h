// The mask screen of the simulated board: a file in the sandbox that the
// firmware maps as its frame buffer and the control server reads back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Makes "<root>/dev/fb0" the size of a frame (sparse: all dark).
bool makeMaskFile(const std::string& root, std::string& error);

// The mask shrunk by `scale` in both directions: each output pixel is the
// brightest byte of its block in each channel, so thin lines stay visible.
// RGB as the screen shows it (red byte 2, green byte 1, blue byte 0).
// Empty when there is no mask file.
std::vector<uint8_t> maskPreview(const std::string& root, int scale, int& width, int& height);

// Writes the firmware has completed on the mask since start.
uint64_t maskWrites();
// Called on the writer's thread at each completed write, before the firmware
// goes on. Set before the firmware starts.
void onMaskWritten(std::function<void()> listener);

}  // namespace sim
