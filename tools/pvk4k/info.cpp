// pvk4k info: the head of a print file as the printer reads it at preview.
#include <cmath>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "firmware/print/print_time.h"
#include "geometry/print_reader.h"
#include "params.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

using nlohmann::ordered_json;

// A float as JSON, written as short as it reads back. JSON has no NaN or
// infinity, so those stay text ("nan", "inf", "-inf").
ordered_json jsonFloat(float v) {
    if (!std::isfinite(v)) return formatFloat(v);
    const double d = std::stod(formatFloat(v));
    if (std::trunc(d) == d && std::fabs(d) < 1e15) return static_cast<int64_t>(d);
    return d;
}

std::string hoursMinutes(uint32_t ms) {
    const uint32_t minutes = ms / 60000;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

const char* verdictWord(int verdict) {
    switch (verdict) {
        case PRINT_FILE_OK: return "printable";
        case PRINT_FILE_REFUSED: return "refused";
        default: return "read error";
    }
}

// The report as one ordered object; the text form prints the same keys.
ordered_json report(const std::string& file, const PrintHeader& h, ordered_json& units) {
    ordered_json r;
    r["file"] = file;
    r["file_size"] = h.fileSize;
    units["file_size"] = "bytes";
    r["verdict"] = verdictWord(h.verdict);
    r["verdict_code"] = h.verdict;
    r["printer_message"] = !h.message.empty() ? ordered_json(h.message) : ordered_json(nullptr);
    if (!h.blockRead) return r;

    PrintParameter p = h.block;
    recomputeBottomLayers(p);
    for (const Field& f : floatFields()) {
        r[f.name] = jsonFloat(p.*f.member);
        if (f.unit[0] != '\0') units[f.name] = f.unit;
        if (f.member == &PrintParameter::bottom_layers) {
            r["bottom_layers_stored"] = jsonFloat(h.block.bottom_layers);
            units["bottom_layers_stored"] = "layers";
        }
    }
    r["layer_count"] = p.layer_count;
    r["thumb_width"] = p.thumb_width;
    r["thumb_height"] = p.thumb_height;
    r["thumbnail_bytes"] = thumbnailBytes(p);
    r["layer_buffer_capacity"] = layerBufferCapacity(p);
    const uint32_t ms = printTimeEstimate(p);
    r["print_time_ms"] = ms;
    r["print_time"] = hoursMinutes(ms);
    r["read_adjustments"] = readAdjustments(p);
    units["thumb_width"] = units["thumb_height"] = "px";
    units["thumbnail_bytes"] = units["layer_buffer_capacity"] = "bytes";
    units["print_time_ms"] = "ms";
    return r;
}

void printText(const ordered_json& r, const ordered_json& units, std::ostream& out) {
    for (const auto& [key, value] : r.items()) {
        out << std::left << std::setw(24) << (key + ":");
        if (value.is_string()) {
            out << value.get<std::string>();
        } else if (value.is_number_float()) {
            out << formatFloat(static_cast<float>(value.get<double>()));
        } else if (value.is_null()) {
            out << "-";
        } else if (value.is_array()) {
            if (value.empty()) out << "none";
            for (size_t i = 0; i < value.size(); ++i) {
                out << (i > 0 ? "; " : "") << value[i].get<std::string>();
            }
        } else {
            out << value.dump();
        }
        if (units.contains(key) && !value.is_null()) out << ' ' << units[key].get<std::string>();
        out << '\n';
    }
}

}  // namespace

int infoCommand(const std::string& file, bool json, const Console& con) {
    std::string error;
    File fp = openFile(file, "rb", error);
    if (!fp) return con.fail(error);
    PrintHeader header;
    if (!fileSize(fp.get(), header.fileSize)) return con.fail("cannot read the size of " + file);
    readHeader(fp.get(), header.fileSize, header);
    if (isMaterialTestFile(file)) con.note(MATERIAL_TEST_NOTE);

    ordered_json units = ordered_json::object();
    ordered_json r = report(file, header, units);
    if (json) {
        r["units"] = units;
        // File names from sticks need not be UTF-8.
        con.out << r.dump(2, ' ', false, ordered_json::error_handler_t::replace) << '\n';
    } else {
        printText(r, units, con.out);
    }
    return header.verdict == PRINT_FILE_OK ? EXIT_CLEAN : EXIT_PROBLEMS;
}

}  // namespace pvk4k
