// pvk4k set: new values in a print file's parameter block, in place.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "geometry/print_reader.h"
#include "params.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

// The largest record count in the file, walking only the counts; stops at the
// first record that is not whole.
uint32_t largestRecord(FILE* fp, uint64_t size, const PrintParameter& p) {
    uint32_t largest = 0;
    const uint64_t thumb = thumbnailBytes(p);
    uint64_t at = PRINT_HEADER_SIZE + thumb;
    for (int32_t i = 0; i < p.layer_count; ++i) {
        uint8_t count[4];
        if (at + 4 > size || fseeko(fp, static_cast<off_t>(at), SEEK_SET) != 0 ||
            fread(count, 1, 4, fp) != 4) {
            break;
        }
        const uint32_t n = uint32_t{count[0]} | uint32_t{count[1]} << 8 | uint32_t{count[2]} << 16 |
                           uint32_t{count[3]} << 24;
        largest = std::max(largest, n);
        at += 4 + uint64_t{n};
    }
    return largest;
}

std::string withUnit(const Field& f, float v) {
    return formatFloat(v) + (f.unit[0] != '\0' ? std::string(" ") + f.unit : "");
}

}  // namespace

int setCommand(const SetOptions& o, const Console& con) {
    const std::string& file = o.file;
    if (o.assignments.empty()) return con.fail("nothing to set: give NAME=VALUE");
    std::vector<Assignment> changes;
    for (const std::string& text : o.assignments) {
        Assignment a;
        std::string error;
        if (!parseAssignment(text, a, error)) return con.fail(error);
        changes.push_back(a);
    }

    std::string error;
    File fp = openFile(file, "rb+", error);
    if (!fp) return con.fail(error);
    uint64_t size = 0;
    if (!fileSize(fp.get(), size)) return con.fail("cannot read the size of " + file);
    char magic[PRINT_FILE_MAGIC_SIZE];
    PrintParameter p;
    if (fread(magic, 1, sizeof magic, fp.get()) != sizeof magic ||
        memcmp(magic, PRINT_FILE_MAGIC, sizeof magic) != 0) {
        return con.fail(file + " is not a print file: it does not start with \"Pravik3D\"");
    }
    if (fread(&p, 1, sizeof p, fp.get()) != sizeof p) {
        return con.fail(file + " ends inside its parameter block");
    }

    const PrintParameter before = p;
    bool bufferChanged = false;
    for (const Assignment& a : changes) {
        p.*a.field->member = a.value;
        bufferChanged = bufferChanged || isBufferField(*a.field);
    }
    recomputeBottomLayers(p);
    for (const Field& f : floatFields()) {
        const bool given = std::any_of(changes.begin(), changes.end(),
                                       [&](const Assignment& a) { return a.field == &f; });
        const std::string range = given ? rangeWarning(p, f) : "";
        if (!range.empty()) con.warn(range);
    }
    // What the printer will refuse is written only when asked for.
    const std::string tail = o.force ? "" : NOTHING_WRITTEN;
    bool refused = false;
    if (const std::string why = blockRefusal(p); !why.empty()) {
        con.warn("the printer will refuse it: " + why + tail);
        refused = true;
    }
    if (bufferChanged) {
        const uint32_t largest = largestRecord(fp.get(), size, p);
        const uint32_t capacity = layerBufferCapacity(p);
        if (largest > capacity) {
            con.warn("the layer buffer of " + withCommas(capacity) +
                     " bytes is smaller than the largest layer code (" + withCommas(largest) +
                     " bytes); the printer will refuse that layer" + tail);
            refused = true;
        }
    }
    if (refused && !o.force) return EXIT_PROBLEMS;

    if (fseeko(fp.get(), static_cast<off_t>(PRINT_FILE_MAGIC_SIZE), SEEK_SET) != 0 ||
        fwrite(&p, 1, sizeof p, fp.get()) != sizeof p) {
        return con.fail("cannot write " + file + ": " + strerror(errno));
    }
    if (!closeFile(fp, file, error)) return con.fail(error);

    for (const Field& f : floatFields()) {
        const float was = before.*f.member;
        const float now = p.*f.member;
        if (memcmp(&was, &now, sizeof was) == 0) continue;
        con.out << f.name << ": " << withUnit(f, was) << " -> " << withUnit(f, now) << '\n';
    }
    return EXIT_CLEAN;
}

}  // namespace pvk4k
