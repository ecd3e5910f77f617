#include "sim/control/routes.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "sim/control/api_requests.h"
#include "sim/control/line_feed.h"
#include "sim/control/part_api.h"
#include "sim/control/state.h"
#include "sim/panel/board_io.h"

namespace sim::control {
namespace {

// Server-sent events: the page's whole view of the machine, at most
// kEventsPerSecond a second whatever the clock's speed, on at most
// kMaxStreams streams so the API stays answerable.
constexpr int kEventsPerSecond = 5;
constexpr int kMaxStreams = 4;
std::atomic<int> streams{0};

struct Cursor {
    uint64_t trace, log, panel = ~0ULL;
};

json snapshot(World& world, Cursor& c) {
    json e{{"state", firmwareState()},
           {"board", boardState(world.board.snapshot())},
           {"clock", clockState()}};
    const json part = partState(world.vat);
    e["part"] = {{"layers_exposed", part["layers_exposed"]},
                 {"layers_cured", part["layers_cured"]},
                 {"height_mm", part["height_mm"]},
                 {"volume_mm3", part["volume_mm3"]},
                 {"unbonded_layer_count", part["unbonded_layer_count"]},
                 {"job", part["job"]}};
    // However fast the clock runs, an event carries a bounded number of lines.
    e["trace"] = linesSince(world.gcode, c.trace, true, 1000, "/api/trace");
    c.trace = e["trace"]["next"];
    e["log"] = linesSince(world.log, c.log, false, 1000, "/api/log");
    c.log = e["log"]["next"];
    const uint64_t panel = panelChip().pixelsWritten();
    e["panel_changed"] = panel != c.panel;
    c.panel = panel;
    return e;
}

void stream(World& world, httplib::Response& res) {
    if (streams.fetch_add(1) >= kMaxStreams) {
        streams.fetch_sub(1);
        return reply(res, json{{"error", "too many event streams"}}, 503);
    }
    // A new stream starts with the last lines, not the whole history.
    const uint64_t keep = 500;
    const uint64_t t = world.gcode.nextSeq(), l = world.log.nextSeq();
    auto cursor =
        std::make_shared<Cursor>(Cursor{t > keep ? t - keep : 0, l > keep ? l - keep : 0});
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [&world, cursor](size_t, httplib::DataSink& sink) {
            json event = snapshot(world, *cursor);
            const std::string text =
                "data: " + event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n";
            if (!sink.write(text.data(), text.size())) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kEventsPerSecond));
            return true;
        },
        [](bool) { streams.fetch_sub(1); });
}

}  // namespace

void addLineRoutes(Routes& routes) {
    World& world = routes.world;
    routes.get("/api/trace", [&world](const httplib::Request& req, httplib::Response& res) {
        uint64_t since = 0;
        if (req.has_param("since")) {
            const std::string error = api::parseSince(req.get_param_value("since"), since);
            if (!error.empty()) return badRequest(res, error);
        }
        reply(res, linesSince(world.gcode, since, true, SIZE_MAX, "/api/trace"));
    });
    routes.get("/api/log", [&world](const httplib::Request& req, httplib::Response& res) {
        uint64_t since = 0;
        if (req.has_param("since")) {
            const std::string error = api::parseSince(req.get_param_value("since"), since);
            if (!error.empty()) return badRequest(res, error);
        }
        reply(res, linesSince(world.log, since, false, SIZE_MAX, "/api/log"));
    });
    routes.get("/api/events",
               [&world](const httplib::Request&, httplib::Response& res) { stream(world, res); });
    routes.get("/api/log", [&world](const httplib::Request& req, httplib::Response& res) {
        uint64_t since = 0;
        if (req.has_param("since")) {
            const std::string error = api::parseSince(req.get_param_value("since"), since);
            if (!error.empty()) return badRequest(res, error);
        }
        reply(res, linesSince(world.log, since, false, SIZE_MAX, "/api/log"));
    });
}

}  // namespace sim::control
