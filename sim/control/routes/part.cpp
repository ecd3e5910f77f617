#include "sim/control/routes.h"

#include <sys/stat.h>

#include <memory>
#include <mutex>

#include "firmware/platform/platform.h"
#include "firmware/usb/tf.h"
#include "geometry/file_model.h"
#include "sim/control/api_requests.h"
#include "sim/control/part_api.h"
#include "sim/control/png_image.h"
#include "sim/control/state.h"
#include "sim/vat/mask.h"

namespace sim::control {
namespace {

// The model of the file asked for last, kept while the file is unchanged.
struct ModelCache {
    std::mutex lock;
    std::string key;
    geometry::FileModel model;

    // The file's model in `model`; `lock` held.
    bool load(const std::string& path, std::string& error) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            error = "no such file in the stick's print folder";
            return false;
        }
        const std::string now = path + "|" + std::to_string(st.st_size) + "|" +
                                std::to_string(st.st_mtim.tv_sec) + "." +
                                std::to_string(st.st_mtim.tv_nsec);
        if (now == key) return true;
        key.clear();
        error = geometry::buildFileModel(path, model);
        if (!error.empty()) {
            // Without the sandbox's path: the file by its name.
            if (const size_t at = error.find(path); at != std::string::npos) {
                error.replace(at, path.size(), path.substr(path.rfind('/') + 1));
            }
            return false;
        }
        key = now;
        return true;
    }
};

}  // namespace

void addPartRoutes(Routes& routes) {
    World& world = routes.world;
    auto cache = std::make_shared<ModelCache>();
    routes.get("/api/mask.png", [&world](const httplib::Request& req, httplib::Response& res) {
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
    routes.get("/api/part", [&world, cache](const httplib::Request& req, httplib::Response& res) {
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
        std::lock_guard<std::mutex> lock(cache->lock);
        if (!cache->load(path, error)) return badRequest(res, error);
        json state = comparisonState(geometry::compareWithModel(world.vat.part(), cache->model));
        state["file"] = name;
        reply(res, state);
    });
    routes.get("/api/part.png", [&world](const httplib::Request& req, httplib::Response& res) {
        geometry::View view = geometry::View::Iso;
        if (req.has_param("view") && !geometry::viewByName(req.get_param_value("view"), view)) {
            return badRequest(res, "view must be front, side, top or iso");
        }
        int w = 0, h = 0;
        const std::vector<uint8_t> rgb = geometry::renderView(world.vat.part(), view, w, h);
        res.set_content(encodePng(rgb.data(), w, h), "image/png");
    });
    routes.get("/api/part.stl", [&world](const httplib::Request&, httplib::Response& res) {
        // Streamed as it is written: a tall part's surface runs to many MB.
        auto part = std::make_shared<const geometry::Part>(world.vat.part());
        res.set_header("Content-Disposition", "attachment; filename=\"part.stl\"");
        res.set_chunked_content_provider("model/stl", [part](size_t, httplib::DataSink& sink) {
            bool open = true;
            geometry::writeStl(*part,
                               [&](const char* p, size_t n) { open = open && sink.write(p, n); });
            if (open) sink.done();
            return open;
        });
    });
    routes.get("/api/part/exposure", [&world](const httplib::Request& req, httplib::Response& res) {
        int x = 0, y = 0;
        const std::string error =
            api::parseMaskPixel(req.get_param_value("x"), req.get_param_value("y"), x, y);
        if (!error.empty()) return badRequest(res, error);
        reply(res, exposureState(world.vat.exposureAt(x, y), x, y));
    });
}

}  // namespace sim::control
