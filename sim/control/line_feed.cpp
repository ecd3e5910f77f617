#include "line_feed.h"

#include <algorithm>
#include <string>
#include <utility>

namespace sim {
namespace {

std::function<void()>& linesReadHook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

void setLinesReadHook(std::function<void()> hook) {
    linesReadHook() = std::move(hook);
}

nlohmann::json linesSince(const Trace& trace, uint64_t since, bool gcode, size_t limit,
                          const char* path) {
    TraceSlice slice = trace.read(since, limit);
    if (linesReadHook()) linesReadHook()();
    nlohmann::json lines = nlohmann::json::array();
    for (TraceLine& l : slice.lines) {
        nlohmann::json j{{"seq", l.seq}, {"t", l.t_ms}, {"text", std::move(l.text)}};
        if (gcode) j["dir"] = l.dir == '>' ? "tx" : "rx";
        lines.push_back(std::move(j));
    }
    nlohmann::json out{{"lines", std::move(lines)}, {"next", slice.next}};
    if (slice.skipped > 0) {
        // Said plainly, with where the ones still held are fetched from.
        const uint64_t held = std::max(slice.skipped_from, slice.held_from);
        out["dropped"] = {{"from", slice.skipped_from},
                          {"count", slice.skipped},
                          {"held_from", held},
                          {"fetch", std::string(path) + "?since=" + std::to_string(held)}};
    }
    return out;
}

}  // namespace sim
