// PNG files in and out: layer images, thumbnails and rendered masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pvk4k {

// Reads a layer image into `values` (FRAME_BYTES long, in value order): a
// 6480 x 3840 greyscale image or a 2160 x 3840 colour one (value 3k is red of
// pixel k, 3k + 1 green, 3k + 2 blue). 16-bit channels are scaled to 8 bits,
// alpha is dropped.
bool readLayerImage(const std::string& path, uint8_t* values, std::string& error);

struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // 3 bytes a pixel, row after row
};

// Reads any PNG as 8-bit RGB (transparency over black). Refuses images of
// more than `maxPixels` before decoding them.
bool readRgbImage(const std::string& path, size_t maxPixels, RgbImage& out, std::string& error);

// Fills one row (width * channels bytes) of the image being written.
using RowSource = std::function<void(uint32_t y, uint8_t* row)>;

// Writes an 8-bit greyscale (channels 1) or RGB (channels 3) PNG.
bool writePng(const std::string& path, uint32_t width, uint32_t height, int channels,
              const RowSource& rows, std::string& error);

}  // namespace pvk4k
