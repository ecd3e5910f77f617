// pvk4k render: the mask as the screen shows it after a layer, or the
// preview thumbnail.
#include <algorithm>

#include "commands.h"
#include "firmware/print/layer_code.h"
#include "geometry/layer_walk.h"
#include "geometry/print_reader.h"
#include "png_io.h"
#include "thumbnail.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

bool openPrintFile(const std::string& file, File& fp, PrintHeader& h, const Console& con) {
    std::string error;
    fp = openFile(file, "rb", error);
    if (!fp) {
        con.fail(error);
        return false;
    }
    if (!fileSize(fp.get(), h.fileSize)) {
        con.fail("cannot read the size of " + file);
        return false;
    }
    readHeader(fp.get(), h.fileSize, h);
    // A file outside the machine's limits is still shown: that is how one
    // looks at what it would have printed.
    if (h.verdict != PRINT_FILE_OK && !h.outsideEnvelope) {
        con.fail(file + ": " + verdictText(h));
        return false;
    }
    return true;
}

int renderThumbnail(const RenderOptions& o, const Console& con) {
    File fp;
    PrintHeader h;
    if (!openPrintFile(o.file, fp, h, con)) return EXIT_ERROR;
    const uint32_t w = static_cast<uint32_t>(h.block.thumb_width);
    const uint32_t ht = static_cast<uint32_t>(h.block.thumb_height);
    if (thumbnailBytes(h.block) == 0) return con.fail(o.file + " has no thumbnail");
    const std::vector<uint8_t> rgb = thumbToRgb(h.thumb, size_t{w} * ht);
    std::string error;
    const bool ok = writePng(
        o.png, w, ht, 3,
        [&](uint32_t y, uint8_t* row) {
            std::copy_n(rgb.data() + size_t{y} * w * 3, size_t{w} * 3, row);
        },
        error);
    return ok ? EXIT_CLEAN : con.fail(error);
}

}  // namespace

int decodeLayers(const std::string& file, uint32_t last, const LayerVisitor& each,
                 const Console& con, PrintParameter* block) {
    const std::string error = walkLayers(file, last, each, walkReport(con), block);
    con.endSteps();
    return error.empty() ? EXIT_CLEAN : con.fail(error);
}

int renderFrame(const std::string& file, uint32_t layer, std::vector<uint8_t>& frame,
                const Console& con) {
    return decodeLayers(
        file, layer,
        [&](uint32_t i, const uint8_t* f) {
            if (i == layer) frame.assign(f, f + FRAME_BYTES);
        },
        con);
}

int renderCommand(const RenderOptions& o, const Console& con) {
    if (o.thumbnail) return renderThumbnail(o, con);
    std::vector<uint8_t> frame;
    const int result = renderFrame(o.file, o.layer, frame, con);
    if (result != EXIT_CLEAN) return result;
    std::string error;
    if (!o.raw.empty()) {
        File fp = openFile(o.raw, "wb", error);
        if (!fp) return con.fail(error);
        if (fwrite(frame.data(), 1, frame.size(), fp.get()) != frame.size()) {
            return con.fail("cannot write " + o.raw);
        }
        if (!closeFile(fp, o.raw, error)) return con.fail(error);
    }
    if (!o.png.empty()) {
        // Each pixel's bytes are blue, green, red in the frame.
        const bool ok = writePng(
            o.png, FRAME_WIDTH, FRAME_HEIGHT, 3,
            [&](uint32_t y, uint8_t* row) {
                const uint8_t* line = frame.data() + size_t{y} * FRAME_LINE_BYTES;
                for (uint32_t x = 0; x < FRAME_LINE_BYTES; x += 3) {
                    row[x] = line[x + 2];
                    row[x + 1] = line[x + 1];
                    row[x + 2] = line[x];
                }
            },
            error);
        if (!ok) return con.fail(error);
    }
    return EXIT_CLEAN;
}

}  // namespace pvk4k
