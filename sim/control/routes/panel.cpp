#include "sim/control/routes.h"

#include <cstdint>
#include <mutex>

#include "firmware/platform/platform.h"
#include "sim/clock/virtual_clock.h"
#include "sim/control/api_requests.h"
#include "sim/control/png_image.h"
#include "sim/panel/board_io.h"

extern const char kIndexHtml[];

namespace sim::control {
namespace {

void setPen(bool down, int x, int y) {
    if (down) {
        touchChip().press(x, y);
    } else {
        touchChip().release();
    }
    updatePenLine();
}

// The panel has one finger. A touch holds it until its release; another
// touch meanwhile is refused, and a press of the pen takes it over (the
// touch's release then leaves the pen's press alone).
struct Finger {
    std::mutex lock;
    uint64_t press = 0;        // counts presses: a release is of one of them
    int64_t touchUntilUs = 0;  // a touch's release, 0 when the pen holds it
};
Finger& finger() {
    static Finger f;
    return f;
}

}  // namespace

void addPanelRoutes(Routes& routes) {
    routes.get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kIndexHtml, "text/html; charset=utf-8");
    });
    routes.get("/api/panel.png", [](const httplib::Request&, httplib::Response& res) {
        const std::vector<uint8_t> rgb = rgb565ToRgb(panelChip().screen());
        res.set_content(encodePng(rgb.data(), Ili9341Model::kWidth, Ili9341Model::kHeight),
                        "image/png");
    });
    routes.post("/api/touch", [](const httplib::Request& req, httplib::Response& res) {
        api::Touch t;
        if (const std::string error = api::parseTouch(req.body, t); !error.empty()) {
            return badRequest(res, error);
        }
        const int x = t.x, y = t.y, ms = t.ms;
        // Held for firmware time: the release is due `ms` after the press,
        // however long that takes in real time (also on a paused clock).
        int64_t releaseAt = 0, heldUntil = -1;
        change([&] {
            Finger& f = finger();
            std::lock_guard<std::mutex> l(f.lock);
            if (touchChip().pressed()) {
                heldUntil = f.touchUntilUs;
                return;
            }
            setPen(true, x, y);
            const uint64_t press = ++f.press;
            releaseAt = platformMonotonicUs() + static_cast<int64_t>(ms) * 1000;
            f.touchUntilUs = releaseAt;
            clock().at(releaseAt, [x, y, press] {
                Finger& held = finger();
                std::lock_guard<std::mutex> hl(held.lock);
                if (held.press != press) return;
                held.touchUntilUs = 0;
                setPen(false, x, y);
            });
        });
        if (heldUntil == 0) return reply(res, json{{"error", "the pen holds the panel"}}, 409);
        if (heldUntil > 0) {
            return reply(res,
                         json{{"error", "a touch holds the panel until its release"},
                              {"release_at_ms", (heldUntil - VirtualClock::kStartUs) / 1000}},
                         409);
        }
        reply(res, json{{"x", x},
                        {"y", y},
                        {"ms", ms},
                        {"release_at_ms", (releaseAt - VirtualClock::kStartUs) / 1000}});
    });
    routes.post("/api/pen", [](const httplib::Request& req, httplib::Response& res) {
        api::Pen p;
        if (const std::string error = api::parsePen(req.body, p); !error.empty()) {
            return badRequest(res, error);
        }
        change([&] {
            Finger& f = finger();
            std::lock_guard<std::mutex> l(f.lock);
            ++f.press;
            f.touchUntilUs = 0;
            setPen(p.down, p.x, p.y);
        });
        reply(res, json{{"down", p.down}});
    });
}

}  // namespace sim::control
