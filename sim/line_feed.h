// The trace and the log as the control API hands them out: the lines from a
// reader's cursor on, and where its next read starts.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>

#include "trace.h"

namespace sim {

// {"lines":[{"seq","t","text"(,"dir")}…],"next":N}: the lines from `since`
// on, the last `limit` of them.
nlohmann::json linesSince(const Trace& trace, uint64_t since, bool gcode,
                          size_t limit = SIZE_MAX);

// Called by linesSince once it has read the lines (tests hold a reader there
// while lines are added).
void setLinesReadHook(std::function<void()> hook);

}  // namespace sim
