// pvk4k check: everything the printer reads, as it reads it, and whether it
// would print the file cleanly.
#include "commands.h"
#include "firmware/print/layer_code.h"
#include "geometry/print_reader.h"
#include "params.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

// Long files can have a problem in every layer; the first ones tell enough.
constexpr int SHOWN_PER_KIND = 50;

struct Findings {
    const Console& con;
    int errors = 0;
    int warnings = 0;

    void error(const std::string& text) {
        if (++errors <= SHOWN_PER_KIND) con.out << "error: " << text << '\n';
    }
    void warning(const std::string& text) {
        if (++warnings <= SHOWN_PER_KIND) con.out << "warning: " << text << '\n';
    }
    void unshown() const {
        if (errors > SHOWN_PER_KIND) {
            con.out << "(" << errors - SHOWN_PER_KIND << " more errors not shown)\n";
        }
        if (warnings > SHOWN_PER_KIND) {
            con.out << "(" << warnings - SHOWN_PER_KIND << " more warnings not shown)\n";
        }
    }
};

std::string layerName(uint32_t i, uint32_t total) {
    return "layer " + std::to_string(i) + "/" + std::to_string(total);
}

}  // namespace

int checkCommand(const std::string& file, const Console& con) {
    std::string error;
    File fp = openFile(file, "rb", error);
    if (!fp) return con.fail(error);
    PrintHeader h;
    if (!fileSize(fp.get(), h.fileSize)) return con.fail("cannot read the size of " + file);
    readHeader(fp.get(), h.fileSize, h);
    if (isMaterialTestFile(file)) con.note(MATERIAL_TEST_NOTE);

    Findings found{con};
    con.out << file << ": " << withCommas(h.fileSize) << " bytes\n";
    constexpr const char* REFUSED = "summary: the printer refuses this file at preview\n";
    if (h.verdict != PRINT_FILE_OK && !h.outsideEnvelope) {
        found.error("header: " + verdictText(h));
        con.out << REFUSED;
        return EXIT_PROBLEMS;
    }
    PrintParameter p = h.block;
    recomputeBottomLayers(p);
    // A block outside the machine's limits is still walked: the records may
    // have problems of their own.
    const uint32_t total = static_cast<uint32_t>(p.layer_count);
    const uint32_t capacity = layerBufferCapacity(p);
    if (h.outsideEnvelope) {
        found.error("header: " + verdictText(h));
    } else {
        con.out << "header: printable; " << total << " layers, layer buffer "
                << withCommas(capacity) << " bytes (layers are numbered from 1)\n";
    }
    for (const std::string& change : readAdjustments(p)) {
        found.warning("header: the printer changes " + change + " when it reads the file");
    }
    if (total == 0) found.warning("header: layer_count is 0, nothing to print");

    std::vector<uint8_t> code;
    uint32_t read = 0;
    bool walkable = true;
    for (uint32_t i = 1; i <= total && walkable; ++i) {
        con.step("checking layer", i, total);
        const RecordRead r = readRecord(fp.get(), h.fileSize, code);
        const std::string name = layerName(i, total);
        switch (r.status) {
            case Record::ReadError: con.endSteps(); return con.fail(file + ": " + recordProblem(r));
            case Record::End:
                found.error(name + ": " + recordProblem(r) + " after " + std::to_string(read) +
                            " of " + std::to_string(total) + " layer records");
                walkable = false;
                continue;
            case Record::CountCut:
            case Record::Cut:
                found.error(name + ": " + recordProblem(r));
                walkable = false;
                continue;
            case Record::ZeroCount: found.error(name + ": " + recordProblem(r)); break;
            case Record::CountTooLarge:
                found.error(name + ": " + recordProblem(r));
                walkable = r.skipped;
                break;
            case Record::Ok: {
                if (r.count > capacity) {
                    found.error(name + ": " + withCommas(r.count) +
                                " code bytes exceed the layer buffer of " + withCommas(capacity) +
                                " (buffer_width x buffer_height x 2)");
                }
                const LayerCodeCheck c = checkLayerCode(code.data(), code.size());
                if (c.result != LAYER_DONE) {
                    found.error(name + ": the runs pass the end of the frame after " +
                                withCommas(c.values) + " values");
                } else if (c.values < FRAME_BYTES) {
                    found.warning(name + ": covers " + withCommas(c.values) + " of " +
                                  withCommas(FRAME_BYTES) +
                                  " values; the rest keeps the previous layer's image");
                }
                break;
            }
        }
        ++read;
    }
    con.endSteps();
    if (walkable) {
        const off_t at = ftello(fp.get());
        const uint64_t end = at < 0 ? 0 : static_cast<uint64_t>(at);
        if (end < h.fileSize) {
            found.error(withCommas(h.fileSize - end) +
                        " bytes after the last layer record (the file should end at byte " +
                        withCommas(end) + ")");
        }
    }
    found.unshown();
    if (h.outsideEnvelope) {
        con.out << REFUSED;
        return EXIT_PROBLEMS;
    }
    con.out << "summary: " << read << " of " << total << " layer records read, " << found.errors
            << (found.errors == 1 ? " error, " : " errors, ") << found.warnings
            << (found.warnings == 1 ? " warning" : " warnings") << "; "
            << (found.errors == 0 ? "prints cleanly" : "the printer would not print it cleanly")
            << '\n';
    return found.errors == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

}  // namespace pvk4k
