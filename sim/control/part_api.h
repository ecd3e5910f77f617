// The printed part as the control API reports it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "geometry/part.h"
#include "sim/vat/resin_vat.h"

namespace sim {

// Layers, height, volume, extent, what stayed on the film, stray light.
nlohmann::json partState(const ResinVat& vat);

// The part held against `model`, the file's geometry.
nlohmann::json comparisonState(const geometry::PartComparison& c);

// The latest exposure at a mask pixel.
nlohmann::json exposureState(const CellExposure& e, int x, int y);

}  // namespace sim
