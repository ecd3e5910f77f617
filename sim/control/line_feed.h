// The trace and the log as the control API hands them out: the lines from a
// reader's cursor on, and where its next read starts.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>

#include "sim/motion/trace.h"

namespace sim {

// {"lines":[{"seq","t","text"(,"dir")}…],"next":N}: the lines from `since`
// on, the last `limit` of them, read at one instant. Lines left out (past
// the limit, or no longer held) are named in "dropped": {"from","count",
// "held_from","fetch"}, where `fetch` is `path` with the cursor to read the
// ones still held from.
nlohmann::json linesSince(const Trace& trace, uint64_t since, bool gcode, size_t limit,
                          const char* path);

// Called by linesSince once it has read the lines (tests hold a reader there
// while lines are added).
void setLinesReadHook(std::function<void()> hook);

}  // namespace sim
