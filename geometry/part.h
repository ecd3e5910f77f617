// The printed part at a reduced resolution: the mask divided into cells of
// 8 x 8 pixels, a part as a stack of layers of such cells, and what can be
// said of it (volume, extent, a closed surface, pictures, the comparison
// with the geometry a file describes). Shared by printer-sim's resin vat and
// by pvk4k, which builds the same cells from a file alone.
//
// The library (geometry/) uses the firmware alone: its frame's geometry,
// its print-file reader and its layer decoder; nothing of the simulator or
// the tools.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/print/layer_code.h"

namespace geometry {

constexpr int kCellPixels = 8;
constexpr int kCellsX = static_cast<int>(FRAME_WIDTH) / kCellPixels;   // 270
constexpr int kCellsY = static_cast<int>(FRAME_HEIGHT) / kCellPixels;  // 480
constexpr int kCells = kCellsX * kCellsY;
constexpr double kPixelWidthMm = 68.0 / 2160.0;
constexpr double kPixelHeightMm = 120.0 / 3840.0;
constexpr double kCellWidthMm = kCellPixels * kPixelWidthMm;    // 0.2519
constexpr double kCellHeightMm = kCellPixels * kPixelHeightMm;  // 0.25
constexpr double kCellAreaMm2 = kCellWidthMm * kCellHeightMm;

// A cell's 192 values: its 8 x 8 pixels, three values each. Cells are kept
// as the sum of their values, so that every use of a cell's mean (the dose,
// the thresholds below) takes it exactly.
constexpr int kCellValues = kCellPixels * kCellPixels * 3;

// A cell counts as lit in a file when the mean of its values is at least
// this (90 %), as dark when at most kDarkCell (5 %: a twentieth of a lit
// cell's dose, under the critical energy even at bottom-layer exposures);
// between the two it is an edge cell, which the comparison reports apart.
// A file's own geometry takes the cells of at least half the full value.
constexpr uint8_t kLitCell = 230;
constexpr uint8_t kDarkCell = 12;
constexpr uint8_t kSolidCell = 128;

// The sum of each cell's values (its mean times kCellValues); `sums` holds
// kCells, row after row.
void cellSums(const uint8_t* frame, uint16_t* sums);
// Every way of taking the sums this machine can run, the one cellSums()
// takes last; each gives the same sums.
struct CellSummer {
    const char* name;
    void (*sum)(const uint8_t* frame, uint16_t* sums);
};
std::vector<CellSummer> cellSummers();
inline double cellMean(uint16_t sum) {
    return sum / static_cast<double>(kCellValues);
}

// A set of cells, kept as a bit map of its bounding box.
class CellSet {
  public:
    CellSet() = default;
    // The cells whose flag is non-zero (`flags` holds kCells).
    static CellSet of(const uint8_t* flags);

    bool empty() const { return count_ == 0; }
    uint32_t count() const { return count_; }
    // Inline: the mesh asks for every cell's six neighbours.
    bool has(int x, int y) const {
        if (x < x0_ || y < y0_ || x >= x0_ + w_ || y >= y0_ + h_) return false;
        const size_t i = static_cast<size_t>(y - y0_) * w_ + (x - x0_);
        return (bits_[i / 8] >> (i % 8) & 1u) != 0;
    }
    // Bounding box, x1 and y1 exclusive; all 0 when empty.
    int x0() const { return x0_; }
    int y0() const { return y0_; }
    int x1() const { return x0_ + w_; }
    int y1() const { return y0_ + h_; }
    size_t bytes() const { return bits_.capacity(); }
    bool operator==(const CellSet& other) const;

  private:
    int x0_ = 0, y0_ = 0, w_ = 0, h_ = 0;
    uint32_t count_ = 0;
    std::vector<uint8_t> bits_;
};

// One layer of a part: its cells, between two depths below the platform.
struct PartLayer {
    double top_mm = 0;     // nearer the platform
    double bottom_mm = 0;  // nearer the film
    CellSet cells;
    uint32_t unbonded = 0;  // cells cured in this layer that reached nothing
    bool cured = false;     // anything cured at all in this exposure
};

struct Box {
    double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;  // mm
};

class Part {
  public:
    void clear() { layers_.clear(); }
    void add(PartLayer layer) { layers_.push_back(std::move(layer)); }
    const std::vector<PartLayer>& layers() const { return layers_; }

    double volumeMm3() const;
    // Cells in all layers.
    uint64_t cells() const;
    bool empty() const { return cells() == 0; }
    // Of the solid cells; all 0 when the part is empty.
    Box bounds() const;
    size_t bytes() const;

  private:
    std::vector<PartLayer> layers_;
};

// The cells of one layer of a file, by how clearly they are lit.
struct ModelLayer {
    CellSet lit;    // mean >= kLitCell
    CellSet grey;   // above kDarkCell, below kLitCell
    CellSet solid;  // mean >= kSolidCell: the file's geometry
};

// The geometry a print file describes: its layers, each `layer_mm` thick,
// the first against the platform.
struct FileModel {
    double layer_mm = 0;
    std::vector<ModelLayer> layers;
    // The part the file describes (its solid cells).
    Part part() const;
};

ModelLayer modelLayer(const uint16_t* sums);

// A part held against a file's model.
struct PartComparison {
    bool equal = false;
    int part_layers = 0;
    int model_layers = 0;
    uint64_t cells_differ = 0;  // clearly lit but missing, or clearly dark but cured
    uint64_t grey_cells = 0;    // edge cells of the model, not counted
    uint64_t grey_cured = 0;    // of those, in the part
    int layers_misplaced = 0;   // layers whose depths differ by more than 1 µm
    // The first difference, layer 1-based; 0 when none.
    int first_layer = 0;
    int first_x = 0, first_y = 0;  // its cell
    std::string first_what;
};
PartComparison compareWithModel(const Part& part, const FileModel& model);

// The part's cells as a closed surface, binary STL: every cell face that
// borders an empty cell, normals outwards. Millimetres, x along the mask's
// width, y along its lines, z from the platform down, so the first layer
// lies at z = 0. Written through `out` in pieces; returns the triangles.
// Two cells that touch only along an edge are two surfaces that meet only at
// the edge's ends: each cell's faces there bend in to a point 0.1 % into it
// at the edge's middle, so every edge is in two facets (and the part loses
// at most 0.1 % of its volume).
uint64_t writeStl(const Part& part, const std::function<void(const char*, size_t)>& out);

enum class View { Front, Side, Top, Iso };
bool viewByName(const std::string& name, View& view);

// A picture of the part (RGB, `width` x `height`), the platform up.
std::vector<uint8_t> renderView(const Part& part, View view, int& width, int& height);

}  // namespace geometry
