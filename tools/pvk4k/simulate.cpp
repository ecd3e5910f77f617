// pvk4k simulate: the printer's own firmware in printer-sim prints the file,
// on virtual time, and says what the machine did and what part it made.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "firmware/print/print.h"
#include "firmware/usb/tf.h"
#include "tools/runner/printer.h"

namespace pvk4k {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

std::string number(double v) {
    std::ostringstream t;
    t << v;
    return t.str();
}

// A scratch folder, removed with it.
struct Scratch {
    fs::path dir;
    Scratch() {
        std::string templ = (fs::temp_directory_path() / "pvk4k-simulate-XXXXXX").string();
        if (mkdtemp(templ.data()) != nullptr) dir = templ;
    }
    ~Scratch() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};

// The firmware's refusal in its log: the lines from `since` that say why.
std::string refusalInLog(runner::Printer& p) {
    const json log = p.get("/api/log");
    std::string why;
    for (const json& l : log["lines"]) {
        const std::string text = l["text"];
        if (text.find("refused") != std::string::npos || text.find("error") != std::string::npos) {
            why = text;
        }
    }
    return why;
}

}  // namespace

int simulateCommand(const SimulateOptions& o, const Console& con) {
    std::error_code ec;
    if (!fs::is_regular_file(o.file, ec)) return con.fail("no such file: " + o.file);
    const std::string name = fs::path(o.file).filename().string();
    Scratch scratch;
    if (scratch.dir.empty()) return con.fail("cannot make a scratch folder");
    const fs::path stick = scratch.dir / "stick";
    fs::create_directories(stick / "pravik3d", ec);
    fs::create_directories(scratch.dir / "tmp", ec);
    fs::copy_file(o.file, stick / "pravik3d" / name, ec);
    if (ec) return con.fail("cannot copy " + o.file + " onto the simulated stick");

    runner::Printer printer;
    runner::PrinterOptions po;
    po.tmpDir = (scratch.dir / "tmp").string();
    po.stderrPath = (scratch.dir / "stderr.txt").string();
    po.args = {"--stick",    stick.string(),    "--resin-dp",   number(o.resinDp),
               "--resin-ec", number(o.resinEc), "--irradiance", number(o.irradiance)};
    std::string error;
    if (!printer.start(po, error)) return con.fail(error);

    ordered_json r;
    r["file"] = o.file;
    std::vector<std::string> reasons;
    auto finish = [&](int status) {
        r["findings"] = reasons;
        if (o.json) {
            con.out << r.dump(2) << "\n";
        }
        return status;
    };
    auto broken = [&]() -> int { return con.fail("printer-sim: " + printer.failure()); };

    // The stick is mounted and listed.
    printer.runUntil("usb_file_count", 1, 10000);
    if (!printer.ok()) return broken();
    const json listed = printer.get("/api/state")["file_name_list"];
    if (listed.empty()) {
        reasons.push_back("the printer does not list " + name +
                          (name.size() >= FILE_NAME_SIZE
                               ? " (the name is too long for its list)"
                               : " (a print file's name ends in .pvk4k)"));
        r["verdict"] = "not listed";
        if (!o.json) con.out << "verdict: not listed\n" << reasons.front() << "\n";
        return finish(EXIT_PROBLEMS);
    }
    const std::string shown = listed.front();

    // The preview read, the temperature check and the start, as the windows do them.
    json answer;
    const int status = printer.post("/api/print", json{{"file", shown}}, &answer);
    if (!printer.ok()) return broken();
    if (status != 200) {
        const std::string why = refusalInLog(printer);
        r["verdict"] = why.empty() ? answer.value("error", std::string("refused")) : why;
        reasons.push_back("the printer refuses the file: " + r["verdict"].get<std::string>());
        if (!o.json) con.out << "verdict: " << r["verdict"].get<std::string>() << "\n";
        return finish(EXIT_PROBLEMS);
    }
    r["verdict"] = "printable";
    const json atStart = printer.get("/api/state");
    const int64_t estimate = atStart.value("print_times", int64_t{0});
    const int total = atStart.value("total_layer", 0);

    // To the end of the job, on virtual time, whatever that takes.
    const int64_t limit = std::max<int64_t>(3 * estimate, 600000) + 3600000;
    for (int64_t ran = 0; ran < limit;) {
        const int64_t chunk = 600000;
        if (printer.runUntil("print_status", PRINT_END, chunk)) break;
        if (!printer.ok()) return broken();
        ran += chunk;
        con.step("layer", printer.get("/api/state").value("current_layer", 0), total);
    }
    con.endSteps();
    // The job's thread has ended once it has wound up.
    printer.run(2000);
    const json jobs = printer.get("/api/jobs")["jobs"];
    const json spans = printer.get("/api/board/light")["spans"];
    const json board = printer.get("/api/board");
    const json part = printer.get("/api/part");
    const json comparison = printer.get("/api/part?file=" + runner::queryValue(shown));
    if (!printer.ok()) return broken();
    if (jobs.empty() || jobs.back()["end_ms"].is_null()) {
        reasons.push_back("the job did not end within " + std::to_string(limit / 60000) +
                          " minutes");
        r["verdict"] = "did not end";
        return finish(EXIT_PROBLEMS);
    }
    const json& job = jobs.back();
    const double duration = job["end_ms"].get<double>() - job["start_ms"].get<double>();
    r["duration_ms"] = std::llround(duration);
    r["estimate_ms"] = estimate;
    r["layers"] = job["layers"];
    r["file_layers"] = job["total"];
    int exposures = 0;
    double shortest = 0, longest = 0, lit = 0;
    int litMoves = 0;
    for (const json& s : spans) {
        if (!s["job"].get<bool>() || s["off_ms"].is_null()) continue;
        const double d = s["off_ms"].get<double>() - s["on_ms"].get<double>();
        shortest = exposures == 0 ? d : std::min(shortest, d);
        longest = std::max(longest, d);
        lit += d;
        litMoves += s["moves"].get<int>();
        ++exposures;
    }
    r["exposures"] = exposures;
    r["light_ms"] = {{"shortest", std::llround(shortest)},
                     {"longest", std::llround(longest)},
                     {"total", std::llround(lit)}};
    r["z_mm"] = {{"lowest", board["z_lowest"]}, {"highest", board["z_highest"]}};
    r["lit_moves"] = litMoves;
    r["part"] = {{"equal", comparison["equal"]},
                 {"first_difference", comparison["first_difference"]},
                 {"layers_cured", part["layers_cured"]},
                 {"height_mm", part["height_mm"]},
                 {"volume_mm3", part["volume_mm3"]},
                 {"unbonded_layers", part["unbonded_layers"]},
                 {"unbonded_layer_count", part["unbonded_layer_count"]},
                 {"unbonded_area_mm2", part["unbonded_area_mm2"]},
                 {"sticks_to_platform", part["sticks_to_platform"]},
                 {"platform_contact_mm2", part["platform_contact_mm2"]}};

    if (job["layers"] != job["total"]) {
        reasons.push_back("the job ended after layer " + job["layers"].dump() + " of " +
                          job["total"].dump() + ": " + refusalInLog(printer));
    }
    if (litMoves > 0)
        reasons.push_back(std::to_string(litMoves) + " moves started with the light on");
    if (part["unbonded_layer_count"].get<int>() > 0) {
        reasons.push_back(part["unbonded_layer_count"].dump() +
                          " layers left cured resin on the film (" +
                          part["unbonded_area_mm2"].dump() + " mm2), first layer " +
                          part["unbonded_layers"][0].dump());
    }
    if (!part["sticks_to_platform"].get<bool>())
        reasons.push_back("the part does not hold to the platform");
    if (comparison["equal"] != true) {
        const json& d = comparison["first_difference"];
        reasons.push_back("the part differs from the file" +
                          (d.is_object() ? " from layer " + d["layer"].dump() + " at " +
                                               d["x_mm"].dump() + ", " + d["y_mm"].dump() +
                                               " mm: " + d["what"].get<std::string>()
                                         : std::string()));
    }
    if (!o.json) {
        std::ostringstream t;
        t << std::fixed << std::setprecision(1);
        t << "verdict: printable\n";
        t << "job: " << duration / 60000 << " min of firmware time (the panel estimates "
          << estimate / 60000.0 << " min), " << job["layers"] << " of " << job["total"]
          << " layers\n";
        t << "light: " << exposures << " exposures, " << shortest / 1000 << " to " << longest / 1000
          << " s, " << lit / 60000 << " min in all; " << litMoves << " moves while lit\n";
        t << std::setprecision(3) << "Z: " << board["z_lowest"].get<double>() << " to "
          << board["z_highest"].get<double>() << " mm\n";
        t << "part: " << part["layers_cured"] << " layers, " << part["height_mm"].get<double>()
          << " mm high, " << part["volume_mm3"].get<double>() << " mm3, "
          << (part["sticks_to_platform"].get<bool>() ? "holds to the platform" : "does not hold")
          << ", " << (comparison["equal"] == true ? "equal to the file" : "differs from the file")
          << "\n";
        for (const std::string& why : reasons) t << "problem: " << why << "\n";
        con.out << t.str();
    }
    return finish(reasons.empty() ? EXIT_CLEAN : EXIT_PROBLEMS);
}

}  // namespace pvk4k
