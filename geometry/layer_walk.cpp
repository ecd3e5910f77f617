#include "layer_walk.h"

#include <algorithm>
#include <vector>

#include "firmware/print/layer_code.h"
#include "print_reader.h"

namespace geometry {

std::string walkLayers(const std::string& file, uint32_t last, const LayerVisitor& each,
                       const WalkReport& report, PrintParameter* block) {
    std::string error;
    File fp = openFile(file, "rb", error);
    if (!fp) return error;
    PrintHeader h;
    if (!fileSize(fp.get(), h.fileSize)) return "cannot read the size of " + file;
    readHeader(fp.get(), h.fileSize, h);
    // A file outside the machine's limits is still walked: that is how one
    // looks at what it would have printed.
    if (h.verdict != PRINT_FILE_OK && !h.outsideEnvelope) return file + ": " + verdictText(h);
    if (block != nullptr) *block = h.block;
    const uint32_t total = static_cast<uint32_t>(std::max(h.block.layer_count, 0));
    if (last == kAllLayers) last = total;
    if (last < 1 || last > total) {
        return "layer " + std::to_string(last) + " does not exist: " + file + " has " +
               std::to_string(total) + " layers, numbered from 1";
    }
    const uint32_t capacity = layerBufferCapacity(h.block);
    std::vector<uint8_t> frame(FRAME_BYTES, 0), code;
    for (uint32_t i = 1; i <= last; ++i) {
        if (report.step) report.step(i, last);
        const RecordRead r = readRecord(fp.get(), h.fileSize, code);
        const std::string name = "layer " + std::to_string(i);
        if (r.status != Record::Ok) return name + ": " + recordProblem(r);
        if (r.count > capacity && report.warn) {
            report.warn(name + ": " + withCommas(r.count) +
                        " code bytes exceed the layer buffer of " + withCommas(capacity) +
                        "; the printer would refuse it");
        }
        if (decodeLayer(code.data(), code.size(), frame.data()) != LAYER_DONE) {
            return name + ": the runs pass the end of the frame";
        }
        if (each) each(i, frame.data());
    }
    return "";
}

}  // namespace geometry
