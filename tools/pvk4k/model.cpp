// pvk4k model: the part a print file describes, on the cells the simulator
// cures, without printing it.
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "geometry/file_model.h"
#include "geometry/files.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

using nlohmann::ordered_json;

double rounded(double v, double unit) {
    return std::round(v / unit) * unit;
}

ordered_json report(const std::string& file, const geometry::FileModel& model) {
    const geometry::Part part = model.part();
    const geometry::Box b = part.bounds();
    uint64_t lit = 0, grey = 0;
    int empty = 0;
    for (const geometry::ModelLayer& l : model.layers) {
        lit += l.lit.count();
        grey += l.grey.count();
        empty += l.solid.empty() ? 1 : 0;
    }
    ordered_json r;
    r["file"] = file;
    r["layers"] = model.layers.size();
    r["layer_mm"] = rounded(model.layer_mm, 1e-6);
    r["empty_layers"] = empty;
    r["cell_pixels"] = geometry::kCellPixels;
    r["cell_mm"] = {rounded(geometry::kCellWidthMm, 1e-6), rounded(geometry::kCellHeightMm, 1e-6)};
    r["height_mm"] = rounded(b.z1, 1e-6);
    r["volume_mm3"] = rounded(part.volumeMm3(), 1e-3);
    r["bounding_box_mm"] = {{"x", {rounded(b.x0, 1e-4), rounded(b.x1, 1e-4)}},
                            {"y", {rounded(b.y0, 1e-4), rounded(b.y1, 1e-4)}},
                            {"z", {rounded(b.z0, 1e-6), rounded(b.z1, 1e-6)}}};
    r["solid_cells"] = part.cells();
    r["lit_cells"] = lit;
    r["edge_cells"] = grey;
    return r;
}

}  // namespace

int modelCommand(const ModelOptions& o, const Console& con) {
    geometry::FileModel model;
    const std::string error = buildFileModel(o.file, model, walkReport(con));
    con.endSteps();
    if (!error.empty()) return con.fail(error);
    if (!o.stl.empty()) {
        std::string error;
        File fp = openFile(o.stl, "wb", error);
        if (!fp) return con.fail(error);
        bool written = true;
        geometry::writeStl(model.part(), [&](const char* p, size_t n) {
            written = written && fwrite(p, 1, n, fp.get()) == n;
        });
        if (!written) return con.fail("cannot write " + o.stl);
        if (!closeFile(fp, o.stl, error)) return con.fail(error);
    }
    const ordered_json r = report(o.file, model);
    if (o.json) {
        con.out << r.dump(2) << "\n";
        return EXIT_CLEAN;
    }
    std::ostringstream t;
    t << std::fixed;
    t << "file: " << o.file << "\n";
    t << "layers: " << model.layers.size() << " of " << std::setprecision(4) << model.layer_mm
      << " mm (" << r["empty_layers"].get<int>() << " empty)\n";
    t << "cells: " << geometry::kCellPixels << " x " << geometry::kCellPixels << " pixels, "
      << geometry::kCellWidthMm << " x " << geometry::kCellHeightMm << " mm\n";
    t << "height: " << r["height_mm"].get<double>() << " mm\n";
    t << "volume: " << std::setprecision(2) << r["volume_mm3"].get<double>() << " mm3\n";
    const auto& box = r["bounding_box_mm"];
    t << std::setprecision(2) << "bounding box: x " << box["x"][0].get<double>() << ".."
      << box["x"][1].get<double>() << " mm, y " << box["y"][0].get<double>() << ".."
      << box["y"][1].get<double>() << " mm, z " << std::setprecision(4) << box["z"][0].get<double>()
      << ".." << box["z"][1].get<double>() << " mm\n";
    t << "cells: " << r["solid_cells"].get<uint64_t>()
      << " solid (mean >= " << int{geometry::kSolidCell} << "), " << r["lit_cells"].get<uint64_t>()
      << " clearly lit (>= " << int{geometry::kLitCell} << "), " << r["edge_cells"].get<uint64_t>()
      << " edge cells (above " << int{geometry::kDarkCell} << ", below " << int{geometry::kLitCell}
      << ")\n";
    if (!o.stl.empty()) t << "surface: " << o.stl << "\n";
    con.out << t.str();
    return EXIT_CLEAN;
}

}  // namespace pvk4k
