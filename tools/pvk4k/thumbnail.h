// The preview thumbnail: RGB565 with the high byte first, and the one made
// from the layers when no picture is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pvk4k {

constexpr uint32_t DEFAULT_THUMB_WIDTH = 150;
constexpr uint32_t DEFAULT_THUMB_HEIGHT = 120;

// 8-bit RGB to thumbnail bytes and back (each channel rounded to its bits and
// widened again to the full 0..255).
std::vector<uint8_t> rgbToThumb(const uint8_t* rgb, size_t pixels);
std::vector<uint8_t> thumbToRgb(const uint8_t* thumb, size_t pixels);

// The part seen from above: the lit values of all layers, gathered in cells
// of CELL x CELL mask pixels, drawn light on dark and shaded by how many layers
// light each cell.
class Silhouette {
  public:
    static constexpr uint32_t CELL = 8;

    Silhouette();
    // Adds a layer of levels (FRAME_BYTES values in value order).
    void add(const uint8_t* levels);
    // Adds the last layer again.
    void repeat();
    // The thumbnail bytes, the part's extent fitted into width x height.
    std::vector<uint8_t> thumbnail(uint32_t width, uint32_t height) const;

  private:
    void merge();

    uint32_t columns_;
    uint32_t rows_;
    uint32_t layers_ = 0;
    std::vector<uint8_t> last_;        // lit values per cell in the last layer
    std::vector<uint8_t> coverage_;    // the most lit values any layer had, per cell
    std::vector<uint32_t> litLayers_;  // layers lighting any value of the cell
};

}  // namespace pvk4k
