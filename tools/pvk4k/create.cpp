// pvk4k create: a print file from layer images.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "firmware/print/layer_code.h"
#include "geometry/print_reader.h"
#include "params.h"
#include "png_io.h"
#include "thumbnail.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

static_assert(std::endian::native == std::endian::little, "the file is little-endian");

// The file being written, next to its final name; removed unless kept.
struct TempFile {
    std::string path;
    File fp;
    bool kept = false;

    ~TempFile() {
        fp.reset();
        if (!path.empty() && !kept) unlink(path.c_str());
    }

    bool open(const std::string& target, std::string& error) {
        namespace fs = std::filesystem;
        const fs::path dir = fs::path(target).parent_path();
        std::string name = ((dir.empty() ? fs::path(".") : dir) / ".pvk4k-XXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0) {
            error = "cannot create a file next to " + target + ": " + strerror(errno);
            return false;
        }
        path = name;
        // mkstemp makes it private; the result should be like any new file.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        fp.reset(fdopen(fd, "wb"));
        if (!fp) {
            close(fd);
            error = "cannot write " + path + ": " + strerror(errno);
            return false;
        }
        return true;
    }
};

bool writeAll(FILE* fp, const void* data, size_t n) {
    return fwrite(data, 1, n, fp) == n;
}

bool writeRecord(FILE* fp, const std::vector<uint8_t>& code) {
    const uint32_t n = static_cast<uint32_t>(code.size());
    const uint8_t count[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                              static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
    return writeAll(fp, count, 4) && writeAll(fp, code.data(), code.size());
}

}  // namespace

int createCommand(const CreateOptions& o, const Console& con) {
    if (o.layers.empty()) return con.fail("no layer images given");
    if (o.layers.size() > static_cast<size_t>(INT32_MAX)) return con.fail("too many layers");

    PrintParameter p = defaultParameters();
    bool bufferGiven = false;
    std::vector<const Field*> given;
    for (const std::string& text : o.params) {
        Assignment a;
        std::string error;
        if (!parseAssignment(text, a, error)) return con.fail("--param " + error);
        p.*a.field->member = a.value;
        bufferGiven = bufferGiven || isBufferField(*a.field);
        given.push_back(a.field);
    }
    for (const Field& f : floatFields()) {
        if (std::find(given.begin(), given.end(), &f) == given.end()) continue;
        const std::string range = rangeWarning(p, f);
        if (!range.empty()) con.warn(range);
    }
    recomputeBottomLayers(p);
    p.layer_count = static_cast<int32_t>(o.layers.size());
    // What the printer will refuse is written only when asked for; the
    // values are judged before any layer is read.
    const std::string tail = o.force ? "" : NOTHING_WRITTEN;
    if (const std::string why = blockRefusal(p); !why.empty()) {
        con.warn("the printer will refuse it: " + why + tail);
        if (!o.force) return EXIT_PROBLEMS;
    }

    std::vector<uint8_t> thumb;
    if (!o.thumbnail.empty()) {
        RgbImage picture;
        std::string error;
        if (!readRgbImage(o.thumbnail, PREVIEW_THUMB_BYTES / 2, picture, error)) {
            return con.fail("thumbnail " + error);
        }
        p.thumb_width = static_cast<int32_t>(picture.width);
        p.thumb_height = static_cast<int32_t>(picture.height);
        thumb = rgbToThumb(picture.rgb.data(), size_t{picture.width} * picture.height);
    } else {
        p.thumb_width = DEFAULT_THUMB_WIDTH;
        p.thumb_height = DEFAULT_THUMB_HEIGHT;
        thumb.assign(size_t{DEFAULT_THUMB_WIDTH} * DEFAULT_THUMB_HEIGHT * 2, 0);
    }

    std::string error;
    TempFile out;
    if (!out.open(o.output, error)) return con.fail(error);
    // The head is written again at the end, when the buffer size and the
    // drawn thumbnail are known.
    if (!writeAll(out.fp.get(), PRINT_FILE_MAGIC, PRINT_FILE_MAGIC_SIZE) ||
        !writeAll(out.fp.get(), &p, sizeof p) ||
        !writeAll(out.fp.get(), thumb.data(), thumb.size())) {
        return con.fail("cannot write " + out.path + ": " + strerror(errno));
    }

    std::vector<uint8_t> levels(FRAME_BYTES);
    std::vector<uint8_t> code;
    std::vector<uint32_t> sizes;
    sizes.reserve(o.layers.size());
    Silhouette silhouette;
    const bool drawThumb = o.thumbnail.empty();
    uint64_t rounded = 0, roundedInLayer = 0;
    const uint32_t total = static_cast<uint32_t>(o.layers.size());
    for (uint32_t i = 0; i < total; ++i) {
        con.step("encoding layer", i + 1, total);
        const std::string& image = o.layers[i];
        const std::string name = "layer " + std::to_string(i + 1) + " (" + image + ")";
        // The same image again (a common run of base layers) has the same code.
        if (i > 0 && image == o.layers[i - 1]) {
            if (drawThumb) silhouette.repeat();
        } else {
            if (!readLayerImage(image, levels.data(), error)) {
                con.endSteps();
                return con.fail("layer " + std::to_string(i + 1) + ": " + error);
            }
            roundedInLayer = 0;
            for (uint8_t& v : levels) {
                roundedInLayer += v % 17 != 0;
                v = greyLevel(v);
            }
            if (drawThumb) silhouette.add(levels.data());
            code = encodeLayer(levels.data(), levels.size());
            if (code.size() > LAYER_CODE_MAX) {
                con.endSteps();
                return con.fail(name + " changes level at nearly every value: its code of " +
                                withCommas(code.size()) + " bytes exceeds the " +
                                withCommas(LAYER_CODE_MAX) + " a layer record may hold");
            }
        }
        if (!writeRecord(out.fp.get(), code)) {
            con.endSteps();
            return con.fail("cannot write " + out.path + ": " + strerror(errno));
        }
        rounded += roundedInLayer;
        sizes.push_back(static_cast<uint32_t>(code.size()));
    }
    con.endSteps();
    if (rounded > 0) {
        con.note(withCommas(rounded) +
                 " grey values were not multiples of 17 and were rounded to the nearest of the "
                 "16 levels");
    }

    uint32_t largest = 0;
    for (uint32_t n : sizes) largest = std::max(largest, n);
    const uint32_t capacity = layerBufferCapacity(p);
    if (largest > capacity && !bufferGiven) {
        p.buffer_height = bufferHeightFor(p.buffer_width, largest);
        con.note("buffer_height raised to " + formatFloat(p.buffer_height) +
                 " so the largest layer code (" + withCommas(largest) + " bytes) fits");
    } else if (largest > capacity) {
        size_t over = 0;
        for (uint32_t n : sizes) over += n > capacity;
        con.warn(std::to_string(over) + " layers need more than the layer buffer of " +
                 withCommas(capacity) + " bytes (buffer_width x buffer_height x 2, largest " +
                 withCommas(largest) + "); the printer will refuse them" + tail);
        if (!o.force) return EXIT_PROBLEMS;  // the temporary file goes with `out`
    }
    if (drawThumb) thumb = silhouette.thumbnail(DEFAULT_THUMB_WIDTH, DEFAULT_THUMB_HEIGHT);

    if (fseeko(out.fp.get(), static_cast<off_t>(PRINT_FILE_MAGIC_SIZE), SEEK_SET) != 0 ||
        !writeAll(out.fp.get(), &p, sizeof p) ||
        !writeAll(out.fp.get(), thumb.data(), thumb.size()) || fflush(out.fp.get()) != 0 ||
        fsync(fileno(out.fp.get())) != 0) {
        return con.fail("cannot write " + out.path + ": " + strerror(errno));
    }
    uint64_t size = 0;
    fileSize(out.fp.get(), size);
    if (!closeFile(out.fp, out.path, error)) return con.fail(error);
    if (rename(out.path.c_str(), o.output.c_str()) != 0) {
        return con.fail("cannot rename " + out.path + " to " + o.output + ": " + strerror(errno));
    }
    out.kept = true;
    con.out << o.output << ": " << total << " layers, " << withCommas(size) << " bytes\n";
    return EXIT_CLEAN;
}

}  // namespace pvk4k
