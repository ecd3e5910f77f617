#include "sim/control/routes.h"

#include "sim/control/api_requests.h"
#include "sim/control/state.h"
#include "sim/stick/usb_stick.h"

namespace sim::control {

void addStickRoutes(Routes& routes) {
    World& world = routes.world;
    routes.post("/api/usb/insert", [&world](const httplib::Request& req, httplib::Response& res) {
        api::Insert ins;
        if (const std::string error = api::parseInsert(req.body, ins); !error.empty()) {
            return badRequest(res, error);
        }
        const std::string dir = ins.dir.value_or(world.stickDir);
        const bool unmountable = ins.unmountable;
        if (dir.empty()) return badRequest(res, "no stick folder: give {\"dir\":...}");
        std::string error;
        bool inserted = false;
        change([&] { inserted = usbStick().insert(dir, error, unmountable); });
        if (!inserted) return badRequest(res, error);
        world.stickDir = dir;
        reply(res, boardState(world.board.snapshot()));
    });
    routes.post("/api/usb/remove", [&world](const httplib::Request&, httplib::Response& res) {
        change([] { usbStick().remove(); });
        reply(res, boardState(world.board.snapshot()));
    });
}

}  // namespace sim::control
