// The machine as the control API shows it: the firmware's state by its own
// global names, the motion board, the clock, the stick's listed files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "sim/motion/motion_board.h"

namespace sim::control {

using nlohmann::json;

// The fields of /api/state, each read on its own so that a run can wait for
// one of them at every instant without building the rest.
using StateField = std::pair<const char*, json (*)()>;
// Each field is read while no party runs: in a run's condition, or through
// firmwareState, which takes all of them at one instant.
const std::vector<StateField>& stateFields();
json firmwareState();

json clockState();
// A firmware instant in µs as the API gives times: ms since the start.
double firmwareMs(int64_t us);
json boardState(const BoardSnapshot& s);

// The names of the stick's print files as the firmware lists them: its own
// bytes, or as UTF-8 (GBK names decoded) for a reader.
std::vector<std::string> listedNames(bool utf8);
// The listed file a reader names as it was shown (UTF-8) or by its own
// bytes: its place in the list and the firmware's bytes; -1 when none is.
int findListed(const std::string& name, std::string& raw);

}  // namespace sim::control
