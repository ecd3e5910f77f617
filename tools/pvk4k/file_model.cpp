#include "file_model.h"

#include <vector>

#include "commands.h"
#include "print/print_file.h"
#include "ui/parameter_table.h"

namespace pvk4k {

int buildFileModel(const std::string& file, sim::FileModel& model, const Console& con) {
    model = sim::FileModel{};
    std::vector<uint16_t> sums(sim::kCells);
    PrintParameter block{};
    const int result = decodeLayers(
        file, kAllLayers,
        [&](uint32_t, const uint8_t* frame) {
            sim::cellSums(frame, sums.data());
            model.layers.push_back(sim::modelLayer(sums.data()));
        },
        con, &block);
    // The thickness the printer moves by: the block as the preview leaves it.
    applyReadAdjustments(block);
    model.layer_mm = block.ZThick;
    return result;
}

}  // namespace pvk4k
