#include "server.h"

#include <httplib.h>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "api_requests.h"
#include "firmware/app/global_data.h"
#include "firmware/link/serial.h"
#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "firmware/touch/lcdtp.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "geometry/file_model.h"
#include "line_feed.h"
#include "part_api.h"
#include "png_image.h"
#include "sim/clock/virtual_clock.h"
#include "sim/panel/board_io.h"
#include "sim/sim_platform.h"
#include "sim/stick/usb_stick.h"
#include "sim/vat/mask.h"

extern const char kIndexHtml[];

namespace sim {
namespace {

using nlohmann::json;

// Names of the numbers a person reads off the state.
const char* windowName(int id) {
    static const char* const kNames[] = {
        "home",     "file",        "preview", "preview more", "parameter edit", "parameter save",
        "printing", "setting",     "move",    "UV light",     "UV intensity",   "UV intensity 2",
        "about",    "information", "update",  "test"};
    return id >= 0 && id < 16 ? kNames[id] : "?";
}

const char* printStatusName(int status) {
    switch (status) {
        case 0: return "idle";
        case PRINT_PRE: return "preparing";
        case PRINT_RUNNING: return "running";
        case PRINT_TEMP_PAUSED: return "paused hot";
        case PRINT_TEMP_PAUSING: return "pausing hot";
        case PRINT_PAUSED: return "paused";
        case PRINT_PAUSING: return "pausing";
        case PRINT_CANCELED: return "cancelled";
        case PRINT_FINISHED: return "finished";
        case PRINT_END: return "ended";
        case PRINT_DATA_ERROR: return "data error";
        case PRINT_TEMP_ERROR: return "temperature error";
        default: return "?";
    }
}

const char* requestName(int button) {
    switch (button) {
        case rOPER_RESUME: return "resume";
        case rOPER_PAUSE: return "pause";
        case rOPER_TEMPPAUSE: return "temperature pause";
        case rOPER_CANCEL: return "cancel";
        case rOPER_NONE: return "none";
        default: return "";  // not a request: the slot's start value
    }
}

// The names of the stick's print files as the firmware lists them: its own
// bytes, or as UTF-8 (GBK names decoded) for a reader.
std::vector<std::string> listedNames(bool utf8) {
    const int count = usb_file_count.load();
    std::vector<std::string> names = fileNameListCopy(count <= FILE_NAME_SLOTS ? count : 0);
    if (utf8) {
        for (std::string& n : names) n = logTextAsUtf8(n);
    }
    return names;
}

// The listed file a reader names as it was shown (UTF-8) or by its own
// bytes: its place in the list and the firmware's bytes; -1 when none is.
int findListed(const std::string& name, std::string& raw) {
    const std::vector<std::string> names = listedNames(false);
    for (bool decoded : {false, true}) {
        for (size_t i = 0; i < names.size(); ++i) {
            if ((decoded ? logTextAsUtf8(names[i]) : names[i]) != name) continue;
            raw = names[i];
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The fields of /api/state, each read on its own so that a run can wait for
// one of them at every instant without building the rest.
using Field = std::pair<const char*, json (*)()>;
const std::vector<Field>& stateFields() {
    static const std::vector<Field> fields{
        {"sim_time_ms", [] { return json(nowMs()); }},
        {"main_loop_passes", [] { return json(main_loop_passes.load()); }},
        {"current_window_ID", [] { return json(current_window_ID.load()); }},
        {"current_window_name", [] { return json(windowName(current_window_ID.load())); }},
        {"next_window_ID", [] { return json(next_window_ID.load()); }},
        {"change_window", [] { return json(change_window.load()); }},
        {"print_status", [] { return json(getPrintStatus()); }},
        {"print_status_name", [] { return json(printStatusName(getPrintStatus())); }},
        {"is_printing_true", [] { return json(is_printing_true.load()); }},
        {"creat_print_pthread", [] { return json(creat_print_pthread.load()); }},
        {"current_button", [] { return json(getCurrentButton()); }},
        {"current_button_name", [] { return json(requestName(getCurrentButton())); }},
        {"current_temperature", [] { return json(current_temperature.load()); }},
        {"checkTemperature", [] { return json(checkTemperature()); }},
        {"pravik3dprinter",
         [] {
             return json{{"led_temperature", pravik3dprinter.led_temperature.load()},
                         {"ok_value", pravik3dprinter.ok_value.load()},
                         {"mv_value", pravik3dprinter.mv_value.load()},
                         {"rpm_value", pravik3dprinter.rpm_value.load()},
                         {"zmin_state", pravik3dprinter.zmin_state.load()},
                         {"zmax_state", pravik3dprinter.zmax_state.load()},
                         {"t_value", pravik3dprinter.t_value.load()}};
         }},
        {"serial_port_open", [] { return json(s_fd.load() != -1); }},
        {"tp_pixlcd",
         [] {
             return json{{"x", tp_pixlcd.x.load()}, {"y", tp_pixlcd.y.load()}};
         }},
        {"tp_pixad",
         [] {
             return json{{"x", tp_pixad.x.load()}, {"y", tp_pixad.y.load()}};
         }},
        {"panel_on", [] { return json(panelChip().displayOn()); }},
        {"pen_down", [] { return json(touchChip().pressed()); }},
        {"spi_select_faults", [] { return json(spiSelectFaults()); }},
        {"USB_detected", [] { return json(USB_detected.load()); }},
        {"usb_file_count", [] { return json(usb_file_count.load()); }},
        {"isUsbConnected", [] { return json(isUsbConnected.load()); }},
        {"s_ishotplug", [] { return json(s_ishotplug.load()); }},
        {"s_isMounted", [] { return json(s_isMounted.load()); }},
        {"print_times", [] { return json(file_information.print_times.load()); }},
        {"current_layer", [] { return json(file_information.current_layer.load()); }},
        {"total_layer", [] { return json(file_information.total_layer.load()); }},
        {"light_on", [] { return json(file_information.light_on.load()); }},
        {"material_test", [] { return json(material_test.load()); }},
        {"Remaining_hours", [] { return json(Remaining_hours.load()); }},
        {"Remaining_minutes", [] { return json(Remaining_minutes.load()); }},
        {"cp_time_hours", [] { return json(cp_time_hours.load()); }},
        {"usb_stick_changes", [] { return json(usb_stick_changes.load()); }},
        {"readonly_violations", [] { return json(usbStick().readOnlyViolations()); }},
        {"file_name_list", [] { return json(listedNames(true)); }},
    };
    return fields;
}

json firmwareState() {
    json state = json::object();
    for (const auto& [name, read] : stateFields()) state[name] = read();
    return state;
}

json clockState() {
    const ClockSettings c = clock().settings();
    return json{{"sim_time_ms", nowMs()},
                {"speed", c.speed > 0 ? json(c.speed) : json("max")},
                {"paused", c.paused},
                {"schedule", c.schedule == Schedule::Serial ? "serial" : "parallel"}};
}

json boardState(const BoardSnapshot& s) {
    return json{
        {"z", s.z},
        {"z_target", s.z_target},
        {"absolute", s.absolute},
        {"homed", s.homed},
        {"moving", s.moving},
        {"light", s.light},
        {"intensity", s.intensity},
        {"stored_intensity", s.stored_intensity},
        {"fan", s.fan},
        {"temperature", s.temperature},
        {"reported_temperature", s.reported_temperature},
        {"lines_received", s.lines_received},
        {"light_on_ms", s.light_on_ms},
        {"z_lowest", s.z_lowest},
        {"z_highest", s.z_highest},
        {"longest_light_ms", s.longest_light_ms},
        {"mask_writes", maskWrites()},
        {"usb",
         [] {
             const UsbState u = usbStick().state();
             return json{
                 {"inserted", u.inserted},       {"mounted", u.mounted}, {"read_only", u.readOnly},
                 {"unmountable", u.unmountable}, {"dir", u.dir},         {"volume", u.volume}};
         }()},
        {"faults",
         {{"silent", s.faults.silent},
          {"noisy", s.faults.noisy},
          {"slow_ms", s.faults.slow_ms},
          {"sensor_failure", s.faults.sensor_failure},
          {"return_short_um", std::lround(s.faults.return_short_mm * 1000)}}},
    };
}

void reply(httplib::Response& res, const json& body, int status = 200) {
    res.status = status;
    // The log may hold bytes that are not UTF-8 (GBK texts of the firmware).
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void badRequest(httplib::Response& res, const std::string& why) {
    reply(res, json{{"error", why}}, 400);
}

// A change of the machine from outside, at the firmware instant it arrives.
void change(const std::function<void()>& what) {
    clock().inject(what);
}

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

struct HttpApi::Impl {
    static constexpr size_t kBodyMaxBytes = 8192;
    World& world;
    // The model of the file asked for last, kept while the file is unchanged.
    std::mutex modelLock;
    std::string modelKey;
    geometry::FileModel model;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::map<std::string, std::string> allowed;  // path -> its methods, for 405

    void get(const char* path, httplib::Server::Handler handler) {
        allow(path, "GET");
        server.Get(path, std::move(handler));
    }
    void post(const char* path, httplib::Server::Handler handler) {
        allow(path, "POST");
        server.Post(path, std::move(handler));
    }
    void allow(const std::string& path, const char* method) {
        std::string& methods = allowed[path];
        methods += methods.empty() ? method : std::string(", ") + method;
    }

    // Only pages of this server and programs on this machine may drive it:
    // a page elsewhere sends its own Origin, and a DNS-rebinding page a
    // Host that is not ours.
    bool fromHere(const httplib::Request& req) const {
        // Host names and schemes are case-insensitive.
        const auto lower = [](std::string text) {
            for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return text;
        };
        const std::string p = ":" + std::to_string(port);
        const std::string host = lower(req.get_header_value("Host"));
        if (host != "127.0.0.1" + p && host != "localhost" + p) return false;
        if (!req.has_header("Origin")) return true;
        const std::string origin = lower(req.get_header_value("Origin"));
        return origin == "http://127.0.0.1" + p || origin == "http://localhost" + p;
    }

    httplib::Server::HandlerResponse screen(const httplib::Request& req,
                                            httplib::Response& res) const {
        using httplib::Server;
        pthread_setname_np(pthread_self(), "http");  // a worker of the library's pool
        if (!fromHere(req)) {
            reply(res, json{{"error", "requests come from this machine's own pages only"}}, 403);
            return Server::HandlerResponse::Handled;
        }
        const auto route = allowed.find(req.path);
        if (route != allowed.end() && route->second.find(req.method) == std::string::npos) {
            res.set_header("Allow", route->second);
            reply(res, json{{"error", req.method + " is not a method of " + req.path}}, 405);
            return Server::HandlerResponse::Handled;
        }
        return Server::HandlerResponse::Unhandled;
    }

    // Server-sent events: the page's whole view of the machine, at most
    // kEventsPerSecond a second whatever the clock's speed, on at most
    // kMaxStreams streams so the API stays answerable.
    static constexpr int kEventsPerSecond = 5;
    static constexpr int kMaxStreams = 4;
    std::atomic<int> streams{0};
    struct Cursor {
        uint64_t trace, log, panel = ~0ULL;
    };

    void stream(httplib::Response& res) {
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
            [this, cursor](size_t, httplib::DataSink& sink) {
                json event = snapshot(*cursor);
                const std::string text =
                    "data: " + event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n";
                if (!sink.write(text.data(), text.size())) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kEventsPerSecond));
                return true;
            },
            [this](bool) { streams.fetch_sub(1); });
    }

    json snapshot(Cursor& c) {
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

    // The file's model in `model`; modelLock held.
    bool fileModel(const std::string& path, std::string& error) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            error = "no such file in the stick's print folder";
            return false;
        }
        const std::string key = path + "|" + std::to_string(st.st_size) + "|" +
                                std::to_string(st.st_mtim.tv_sec) + "." +
                                std::to_string(st.st_mtim.tv_nsec);
        if (key == modelKey) return true;
        modelKey.clear();
        error = geometry::buildFileModel(path, model);
        if (!error.empty()) {
            // Without the sandbox's path: the file by its name.
            if (const size_t at = error.find(path); at != std::string::npos) {
                error.replace(at, path.size(), path.substr(path.rfind('/') + 1));
            }
            return false;
        }
        modelKey = key;
        return true;
    }

    explicit Impl(World& w) : world(w) {
        // A request body holds a few fields; nothing needs more. The HTTP
        // library holds form-encoded bodies (curl -d) to this already: one
        // limit for every body, whatever its type.
        server.set_payload_max_length(kBodyMaxBytes);
        // A worker serves one connection at a time: idle ones are let go
        // soon, and there are enough workers that dozens of them (and the
        // page's streams) hold up no request.
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(2);
        server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return screen(req, res);
        });
        server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return;
            const std::string why =
                res.status == 404   ? "no such path: " + req.path
                : res.status == 413 ? "request body too large"
                                    : "request failed with status " + std::to_string(res.status);
            reply(res, json{{"error", why}}, res.status);
        });
        get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kIndexHtml, "text/html; charset=utf-8");
        });
        get("/api/state",
            [](const httplib::Request&, httplib::Response& res) { reply(res, firmwareState()); });
        get("/api/board", [this](const httplib::Request&, httplib::Response& res) {
            reply(res, boardState(world.board.snapshot()));
        });
        post("/api/board", [this](const httplib::Request& req, httplib::Response& res) {
            api::BoardChange c;
            if (const std::string error = api::parseBoardChange(req.body, c); !error.empty()) {
                return badRequest(res, error);
            }
            applyBoard(world.board, c);
            reply(res, boardState(world.board.snapshot()));
        });
        get("/api/trace", [this](const httplib::Request& req, httplib::Response& res) {
            uint64_t since = 0;
            if (req.has_param("since")) {
                const std::string error = api::parseSince(req.get_param_value("since"), since);
                if (!error.empty()) return badRequest(res, error);
            }
            reply(res, linesSince(world.gcode, since, true, SIZE_MAX, "/api/trace"));
        });
        get("/api/panel.png", [](const httplib::Request&, httplib::Response& res) {
            const std::vector<uint8_t> rgb = rgb565ToRgb(panelChip().screen());
            res.set_content(encodePng(rgb.data(), Ili9341Model::kWidth, Ili9341Model::kHeight),
                            "image/png");
        });
        post("/api/touch", [](const httplib::Request& req, httplib::Response& res) {
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
        post("/api/pen", [](const httplib::Request& req, httplib::Response& res) {
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
        post("/api/usb/insert", [this](const httplib::Request& req, httplib::Response& res) {
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
        post("/api/usb/remove", [this](const httplib::Request&, httplib::Response& res) {
            change([] { usbStick().remove(); });
            reply(res, boardState(world.board.snapshot()));
        });
        get("/api/mask.png", [this](const httplib::Request& req, httplib::Response& res) {
            int scale = 8;
            if (req.has_param("scale")) {
                const std::string error = api::parseScale(req.get_param_value("scale"), scale);
                if (!error.empty()) return badRequest(res, error);
            }
            int w = 0, h = 0;
            const std::vector<uint8_t> rgb = maskPreview(world.root, scale, w, h);
            if (rgb.empty()) return badRequest(res, "no mask in the sandbox");
            res.set_header("X-Light-On", world.board.snapshot().light ? "1" : "0");
            res.set_content(encodePng(rgb.data(), w, h), "image/png");
        });
        post("/api/print", [](const httplib::Request& req, httplib::Response& res) {
            std::string name;
            if (const std::string error = api::parsePrint(req.body, name); !error.empty()) {
                return badRequest(res, error);
            }
            const int index = findListed(name, name);
            if (index < 0) return badRequest(res, "no listed file " + name);
            // Selected, read and started on the firmware's thread as the file,
            // preview and start windows do it, refusals included.
            auto refusal = std::make_shared<std::string>("the firmware's main loop did not answer");
            const bool ran = runOnMainLoop([index, name, refusal] {
                // A job that has ended may still be on the printing window.
                const bool shown = current_window_ID == INDEX_WINDOW_PRINT ||
                                   (change_window != 0 && next_window_ID == INDEX_WINDOW_PRINT);
                if (is_printing_true != 0 || creat_print_pthread != 0 ||
                    (shown && getPrintStatus() != PRINT_END)) {
                    *refusal = "a job is pending or running";
                    return;
                }
                page_index = static_cast<uint8_t>(index / 5);
                file_index_num = static_cast<uint8_t>(index % 5);
                resetMaterialTest();
                if (name == materialtestfilename) {
                    setMaterialTest();  // the file window starts it at once
                } else if (const int result = readPrintparameter(); result != 1) {
                    *refusal = "the file is refused (" + std::to_string(result) + ")";
                    return;
                } else if (checkTemperature() != 1) {
                    *refusal = "the temperature of the light source (" +
                               std::to_string(current_temperature.load()) +
                               ") does not allow a print";
                    return;
                }
                refusal->clear();
                requestWindow(INDEX_WINDOW_PRINT);
                creat_print_pthread = 1;
            });
            if (!ran || !refusal->empty()) return badRequest(res, *refusal);
            reply(res, firmwareState());
        });
        post("/api/print/request", [](const httplib::Request& req, httplib::Response& res) {
            std::string request;
            if (const std::string error = api::parsePrintRequest(req.body, request);
                !error.empty()) {
                return badRequest(res, error);
            }
            const int code = request == "pause"       ? rOPER_PAUSE
                             : request == "resume"    ? rOPER_RESUME
                             : request == "temppause" ? rOPER_TEMPPAUSE
                                                      : rOPER_CANCEL;
            // A request kept with no job to take it would hit the next job.
            bool taken = false;
            change([&] {
                taken = jobAlive();
                if (taken) setCurrentButton(code);
            });
            if (!taken) return badRequest(res, "no job is running to take the request");
            reply(res, firmwareState());
        });
        post("/api/run", [](const httplib::Request& req, httplib::Response& res) {
            api::Run ask;
            if (const std::string error = api::parseRun(req.body, ask); !error.empty()) {
                return badRequest(res, error);
            }
            const int64_t ms = ask.ms;
            std::function<bool()> until;
            if (!ask.field.empty()) {
                const auto& fields = stateFields();
                const auto f = std::find_if(fields.begin(), fields.end(),
                                            [&](const Field& x) { return ask.field == x.first; });
                if (f == fields.end()) return badRequest(res, "no state field " + ask.field);
                until = [read = f->second, want = ask.equals] { return read() == want; };
            }
            const int64_t from = nowMs();
            const RunResult r = clock().run(ms * 1000, until);
            json state = firmwareState();
            state["run"] = {{"ran_ms", nowMs() - from}, {"reached", r.reached}};
            reply(res, state);
        });
        get("/api/clock",
            [](const httplib::Request&, httplib::Response& res) { reply(res, clockState()); });
        post("/api/clock", [](const httplib::Request& req, httplib::Response& res) {
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
        get("/api/part", [this](const httplib::Request& req, httplib::Response& res) {
            if (!req.has_param("file")) return reply(res, partState(world.vat));
            const std::string name = req.get_param_value("file");
            if (const std::string error = api::parsePartFile(name); !error.empty()) {
                return badRequest(res, error);
            }
            // A name shown decoded is the file of the listed name's bytes.
            std::string raw = name;
            findListed(name, raw);
            std::string error;
            const std::string path = sysPath(pravikPath) + "/" + raw;
            std::lock_guard<std::mutex> lock(modelLock);
            if (!fileModel(path, error)) return badRequest(res, error);
            json state = comparisonState(geometry::compareWithModel(world.vat.part(), model));
            state["file"] = name;
            reply(res, state);
        });
        get("/api/part.png", [this](const httplib::Request& req, httplib::Response& res) {
            geometry::View view = geometry::View::Iso;
            if (req.has_param("view") && !geometry::viewByName(req.get_param_value("view"), view)) {
                return badRequest(res, "view must be front, side, top or iso");
            }
            int w = 0, h = 0;
            const std::vector<uint8_t> rgb = geometry::renderView(world.vat.part(), view, w, h);
            res.set_content(encodePng(rgb.data(), w, h), "image/png");
        });
        get("/api/part.stl", [this](const httplib::Request&, httplib::Response& res) {
            // Streamed as it is written: a tall part's surface runs to many MB.
            auto part = std::make_shared<const geometry::Part>(world.vat.part());
            res.set_header("Content-Disposition", "attachment; filename=\"part.stl\"");
            res.set_chunked_content_provider("model/stl", [part](size_t, httplib::DataSink& sink) {
                bool open = true;
                geometry::writeStl(
                    *part, [&](const char* p, size_t n) { open = open && sink.write(p, n); });
                if (open) sink.done();
                return open;
            });
        });
        get("/api/part/exposure", [this](const httplib::Request& req, httplib::Response& res) {
            int x = 0, y = 0;
            const std::string error =
                api::parseMaskPixel(req.get_param_value("x"), req.get_param_value("y"), x, y);
            if (!error.empty()) return badRequest(res, error);
            reply(res, exposureState(world.vat.exposureAt(x, y), x, y));
        });
        get("/api/events",
            [this](const httplib::Request&, httplib::Response& res) { stream(res); });
        get("/api/log", [this](const httplib::Request& req, httplib::Response& res) {
            uint64_t since = 0;
            if (req.has_param("since")) {
                const std::string error = api::parseSince(req.get_param_value("since"), since);
                if (!error.empty()) return badRequest(res, error);
            }
            reply(res, linesSince(world.log, since, false, SIZE_MAX, "/api/log"));
        });
    }
};

HttpApi::HttpApi(World& world) : impl_(std::make_unique<Impl>(world)) {}

HttpApi::~HttpApi() {
    stop();
}

int HttpApi::bind(int port, std::string& error) {
    // SO_REUSEADDR alone: a restart may take the port back from connections
    // still closing, but a second simulator cannot listen beside this one
    // (the library's default, SO_REUSEPORT, would let both).
    impl_->server.set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (port == 0) {
        port = impl_->server.bind_to_any_port("127.0.0.1");
        if (port <= 0) error = "cannot listen on 127.0.0.1";
        impl_->port = port > 0 ? port : 0;
        return impl_->port;
    }
    if (!impl_->server.bind_to_port("127.0.0.1", port)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno) +
                (errno == EADDRINUSE ? " (another printer-sim? try --port 0)" : "");
        return 0;
    }
    impl_->port = port;
    return port;
}

void HttpApi::serve() {
    impl_->thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "http-listen");
        impl_->server.listen_after_bind();
    });
}

void HttpApi::stop() {
    if (!impl_->thread.joinable()) return;
    impl_->server.stop();
    impl_->thread.join();
}

}  // namespace sim
