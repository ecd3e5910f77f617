#include "part_api.h"

#include <cmath>

namespace sim {
namespace {

using nlohmann::json;

// Figures as a person reads them: micrometres and hundredths of a mm2.
double um(double mm) {
    return std::round(mm * 1e6) / 1e6;
}
double hundredths(double v) {
    return std::round(v * 100) / 100;
}

}  // namespace

json partState(const ResinVat& vat) {
    const VatSummary s = vat.summary();
    const geometry::Box& b = s.bounds;
    json unbonded = json::array();
    for (size_t i = 0; i < s.unbonded_layers.size() && i < 100; ++i) {
        unbonded.push_back(s.unbonded_layers[i]);
    }
    return json{
        {"resin",
         {{"dp_mm", s.resin.dp_mm},
          {"ec_mj_cm2", s.resin.ec_mj_cm2},
          {"irradiance_mw_cm2", s.resin.irradiance_mw_cm2}}},
        {"cell_mm", {um(geometry::kCellWidthMm), um(geometry::kCellHeightMm)}},
        {"job", s.job},
        {"home_gap_mm", um(s.home_gap_mm)},
        {"layers_exposed", s.exposures},
        {"layers_cured", s.layers_cured},
        {"height_mm", um(b.z1)},
        {"volume_mm3", hundredths(s.volume_mm3)},
        {"bounding_box_mm",
         {{"x", {um(b.x0), um(b.x1)}}, {"y", {um(b.y0), um(b.y1)}}, {"z", {um(b.z0), um(b.z1)}}}},
        {"unbonded_layer_count", s.unbonded_layers.size()},
        {"unbonded_layers", std::move(unbonded)},  // the first 100
        {"unbonded_area_mm2", hundredths(s.unbonded_area_mm2)},
        {"sticks_to_platform", s.platform_contact_mm2 > 0},
        {"platform_contact_mm2", hundredths(s.platform_contact_mm2)},
        {"lit_moves", s.lit_moves},
        {"stray",
         {{"light_ms", s.stray_light_ms},
          {"max_dose_mj_cm2", hundredths(s.stray_max_dose_mj_cm2)},
          {"cured_area_mm2", hundredths(s.stray_cured_area_mm2)}}},
        {"memory_bytes", s.part_bytes},
    };
}

json comparisonState(const geometry::PartComparison& c) {
    json j{{"equal", c.equal},
           {"part_layers", c.part_layers},
           {"file_layers", c.model_layers},
           {"cells_differ", c.cells_differ},
           {"layers_misplaced", c.layers_misplaced},
           {"edge_cells", c.grey_cells},
           {"edge_cells_cured", c.grey_cured},
           {"thresholds", {{"lit", geometry::kLitCell}, {"dark", geometry::kDarkCell}}}};
    if (c.first_layer != 0) {
        j["first_difference"] = {{"layer", c.first_layer},
                                 {"cell", {c.first_x, c.first_y}},
                                 {"x_mm", um(c.first_x * geometry::kCellWidthMm)},
                                 {"y_mm", um(c.first_y * geometry::kCellHeightMm)},
                                 {"what", c.first_what}};
    } else {
        j["first_difference"] = nullptr;
    }
    return j;
}

json exposureState(const CellExposure& e, int x, int y) {
    return json{{"x", x},
                {"y", y},
                {"cell", {x / geometry::kCellPixels, y / geometry::kCellPixels}},
                {"layer", e.layer},
                {"cell_mean", std::round(e.cell_mean * 1000) / 1000},
                {"dose_mj_cm2", std::round(e.dose_mj_cm2 * 1000) / 1000},
                {"cure_depth_mm", um(e.cure_depth_mm)},
                {"bonded", e.bonded}};
}

}  // namespace sim
