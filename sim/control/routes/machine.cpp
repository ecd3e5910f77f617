#include "sim/control/routes.h"

#include <algorithm>

#include "sim/clock/virtual_clock.h"
#include "sim/control/api_requests.h"
#include "sim/control/state.h"
#include "sim/sim_platform.h"

namespace sim::control {
namespace {

// Applies a checked POST /api/board body, all of it at one instant.
void applyBoard(MotionBoard& board, const api::BoardChange& c) {
    change([&] {
        BoardFaults f = board.snapshot().faults;
        if (c.silent) f.silent = *c.silent;
        if (c.noisy) f.noisy = *c.noisy;
        if (c.sensorFailure) f.sensor_failure = *c.sensorFailure;
        if (c.slowMs) f.slow_ms = *c.slowMs;
        if (c.returnShortUm) f.return_short_mm = *c.returnShortUm / 1000.0;
        if (c.temperature) board.setTemperature(*c.temperature);
        board.setFaults(f);
    });
}

}  // namespace

void addMachineRoutes(Routes& routes) {
    World& world = routes.world;
    routes.get("/api/state", [](const httplib::Request&, httplib::Response& res) {
        reply(res, firmwareState());
    });
    routes.get("/api/board", [&world](const httplib::Request&, httplib::Response& res) {
        reply(res, boardState(world.board.snapshot()));
    });
    routes.get("/api/board", [&world](const httplib::Request&, httplib::Response& res) {
        reply(res, boardState(world.board.snapshot()));
    });
    routes.post("/api/board", [&world](const httplib::Request& req, httplib::Response& res) {
        api::BoardChange c;
        if (const std::string error = api::parseBoardChange(req.body, c); !error.empty()) {
            return badRequest(res, error);
        }
        applyBoard(world.board, c);
        reply(res, boardState(world.board.snapshot()));
    });
    routes.get("/api/board/light", [&world](const httplib::Request& req, httplib::Response& res) {
        uint64_t since = 0;
        if (req.has_param("since")) {
            const std::string error = api::parseSince(req.get_param_value("since"), since);
            if (!error.empty()) return badRequest(res, error);
        }
        json spans = json::array();
        for (const LightSpan& l : world.board.lightSpans(since)) {
            spans.push_back({{"seq", l.seq},
                             {"on_ms", firmwareMs(l.on_us)},
                             {"off_ms", l.off_us < 0 ? json() : json(firmwareMs(l.off_us))},
                             {"intensity", l.intensity},
                             {"z", l.z},
                             {"moves", l.moves},
                             {"job", l.context.job},
                             {"window", l.context.window},
                             {"material_test", l.context.material_test}});
        }
        reply(res, json{{"spans", std::move(spans)}, {"next", world.board.snapshot().light_spans}});
    });
    routes.get("/api/clock",
               [](const httplib::Request&, httplib::Response& res) { reply(res, clockState()); });
    routes.post("/api/clock", [](const httplib::Request& req, httplib::Response& res) {
        api::ClockChange change;
        if (const std::string error = api::parseClock(req.body, change); !error.empty()) {
            return badRequest(res, error);
        }
        ClockSettings c = clock().settings();
        if (change.speed) c.speed = *change.speed;
        if (change.paused) c.paused = *change.paused;
        clock().configure(c);
        reply(res, clockState());
    });
    routes.post("/api/run", [](const httplib::Request& req, httplib::Response& res) {
        api::Run ask;
        if (const std::string error = api::parseRun(req.body, ask); !error.empty()) {
            return badRequest(res, error);
        }
        const int64_t ms = ask.ms;
        std::function<bool()> until;
        if (!ask.field.empty()) {
            const auto& fields = stateFields();
            const auto f = std::find_if(fields.begin(), fields.end(),
                                        [&](const StateField& x) { return ask.field == x.first; });
            if (f == fields.end()) return badRequest(res, "no state field " + ask.field);
            until = [read = f->second, want = ask.equals] { return read() == want; };
        }
        const int64_t from = nowMs();
        const RunResult r = clock().run(ms * 1000, until);
        json state = firmwareState();
        state["run"] = {{"ran_ms", nowMs() - from}, {"reached", r.reached}};
        reply(res, state);
    });
}

}  // namespace sim::control
