#include "line_feed.h"

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

nlohmann::json linesSince(const Trace& trace, uint64_t since, bool gcode, size_t limit) {
    nlohmann::json lines = nlohmann::json::array();
    const std::vector<TraceLine> all = trace.since(since);
    if (linesReadHook()) linesReadHook()();
    for (size_t i = all.size() > limit ? all.size() - limit : 0; i < all.size(); ++i) {
        const TraceLine& l = all[i];
        nlohmann::json j{{"seq", l.seq}, {"t", l.t_ms}, {"text", l.text}};
        if (gcode) j["dir"] = l.dir == '>' ? "tx" : "rx";
        lines.push_back(std::move(j));
    }
    return nlohmann::json{{"lines", std::move(lines)}, {"next", trace.nextSeq()}};
}

}  // namespace sim
