#include "file_model.h"

#include <vector>

#include "commands.h"
#include "print/layer_code.h"
#include "print_reader.h"
#include "ui/parameter_table.h"

namespace pvk4k {

std::string buildFileModel(const std::string& file, sim::FileModel& model,
                           const Console* progress) {
    std::string error;
    File fp = openFile(file, "rb", error);
    if (!fp) return error;
    PrintHeader h;
    if (!fileSize(fp.get(), h.fileSize)) return "cannot read the size of " + file;
    readHeader(fp.get(), h.fileSize, h);
    if (!h.blockRead || (h.verdict != PRINT_FILE_OK && !h.outsideEnvelope)) {
        return file + ": " + verdictText(h);
    }
    // The thickness the printer moves by: the block as the preview leaves it.
    PrintParameter asRead = h.block;
    applyReadAdjustments(asRead);
    model = sim::FileModel{};
    model.layer_mm = asRead.ZThick;
    const auto total = static_cast<uint32_t>(std::max(h.block.layer_count, 0));
    std::vector<uint8_t> frame(FRAME_BYTES, 0), code, means(sim::kCells);
    model.layers.reserve(total);
    for (uint32_t i = 1; i <= total; ++i) {
        if (progress != nullptr) progress->step("modelling layer", i, total);
        const RecordRead r = readRecord(fp.get(), h.fileSize, code);
        if (r.status != Record::Ok) {
            if (progress != nullptr) progress->endSteps();
            return "layer " + std::to_string(i) + ": " + recordProblem(r);
        }
        if (decodeLayer(code.data(), code.size(), frame.data()) != LAYER_DONE) {
            if (progress != nullptr) progress->endSteps();
            return "layer " + std::to_string(i) + ": the runs pass the end of the frame";
        }
        sim::cellMeans(frame.data(), means.data());
        model.layers.push_back(sim::modelLayer(means.data()));
    }
    if (progress != nullptr) progress->endSteps();
    return "";
}

}  // namespace pvk4k
