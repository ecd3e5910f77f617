// A failing session made short: actions, faults, files and layers taken
// away while the same invariant still breaks.
#pragma once

#include <functional>

#include "run.h"
#include "session.h"

namespace campaign {

// Whether a session still fails the way the first one did.
using StillFails = std::function<bool(const Session&)>;

// The shortest session found within `budget` trial runs.
Session shrinkSession(const Session& failing, const StillFails& stillFails, int budget = 150);

}  // namespace campaign
