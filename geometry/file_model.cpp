#include "file_model.h"

#include <vector>

#include "firmware/print/print_file.h"
#include "firmware/ui/parameter_table.h"

namespace geometry {

std::string buildFileModel(const std::string& file, FileModel& model, const WalkReport& report) {
    model = FileModel{};
    std::vector<uint16_t> sums(kCells);
    PrintParameter block{};
    const std::string error = walkLayers(
        file, kAllLayers,
        [&](uint32_t, const uint8_t* frame) {
            cellSums(frame, sums.data());
            model.layers.push_back(modelLayer(sums.data()));
        },
        report, &block);
    // The thickness the printer moves by: the block as the preview leaves it.
    applyReadAdjustments(block);
    model.layer_mm = block.ZThick;
    return error;
}

}  // namespace geometry
