#include "sim/control/routes.h"

#include <memory>

#include "firmware/app/global_data.h"
#include "firmware/link/status.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "sim/control/api_requests.h"
#include "sim/control/state.h"
#include "sim/sim_platform.h"

namespace sim::control {

void addPrintRoutes(Routes& routes) {
    World& world = routes.world;
    routes.get("/api/jobs", [&world](const httplib::Request&, httplib::Response& res) {
        json jobs = json::array();
        for (const JobRecord& j : world.jobs.jobs()) {
            jobs.push_back({{"n", j.n},
                            {"start_ms", firmwareMs(j.start_us)},
                            {"end_ms", j.end_us < 0 ? json() : json(firmwareMs(j.end_us))},
                            {"file", j.file},
                            {"material_test", j.material_test},
                            {"reading", j.reading},
                            {"end_status", j.end_status},
                            {"layers", j.layers},
                            {"total", j.total}});
        }
        reply(res, json{{"jobs", std::move(jobs)}});
    });
    routes.post("/api/print", [](const httplib::Request& req, httplib::Response& res) {
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
            if (is_printing_true != 0 || creat_print_pthread != 0 || jobAlive() ||
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
                           std::to_string(current_temperature.load()) + ") does not allow a print";
                return;
            }
            refusal->clear();
            requestWindow(INDEX_WINDOW_PRINT);
            creat_print_pthread = 1;
            // The start button's job starts later in the same pass, this one
            // on the next pass, after the printing window's first draw: that
            // draw must not read the last job's end and send the panel home
            // while this job runs (the file window would then be open to a
            // preview that reads the job's file).
            setPrintStatus(PRINT_PRE);
        });
        if (!ran || !refusal->empty()) return badRequest(res, *refusal);
        reply(res, firmwareState());
    });
    routes.post("/api/print/request", [](const httplib::Request& req, httplib::Response& res) {
        std::string request;
        if (const std::string error = api::parsePrintRequest(req.body, request); !error.empty()) {
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
}

}  // namespace sim::control
