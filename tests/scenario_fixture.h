// printer-sim booted for a scenario: its control API as the tests use it.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "firmware/print/print.h"
#include "firmware/print/safety_envelope.h"
#include "firmware/ui/picture_records.h"
#include "firmware/ui/ui.h"
#include "tools/runner/sim_process.h"

namespace scenario {

using nlohmann::json;
namespace fs = std::filesystem;

// printer-sim with its sandbox made by itself in a fresh temporary folder,
// started with firmware time frozen and driven in lock-step: time moves only
// by the test's runs, as fast as the work in them allows, so a busy machine
// changes nothing a test sees.
class SimScenario : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "printer-sim-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        launch();
    }

    void TearDown() override {
        if (sim_.running()) {
            EXPECT_FALSE(fs::is_empty(dir_)) << "printer-sim made no sandbox in its TMPDIR";
            // Whatever the scenario did, the machine stayed inside its envelope.
            const json board = get("/api/board");
            EXPECT_GE(board["z_lowest"].get<double>(), -1e-6);
            EXPECT_LE(board["z_highest"].get<double>(), ENVELOPE_Z_TRAVEL_MM + 1e-6);
            EXPECT_LE(board["longest_light_ms"].get<double>(),
                      ENVELOPE_TIME_MAX_MS + ENVELOPE_LIGHT_MARGIN_MS);
            // Every transfer on the panel's bus had exactly one chip selected.
            EXPECT_EQ(get("/api/state")["spi_select_faults"].get<uint64_t>(), 0u);
            // Nothing was written to the stick outside the remount bracket.
            EXPECT_EQ(get("/api/state")["readonly_violations"].get<uint64_t>(),
                      expectedReadOnlyViolations_);
            EXPECT_EQ(stop(), 0);
            EXPECT_TRUE(fs::is_empty(dir_)) << "the sandbox outlived printer-sim";
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
        if (!stick_.empty()) fs::remove_all(stick_, ec);
        if (!stick_.empty()) fs::remove_all(otherStick(), ec);
    }

    void launch() {
        std::vector<std::string> args{"--paused", "--speed", "max", "--schedule", schedule_};
        args.insert(args.end(), args_.begin(), args_.end());
        port_ = sim_.start(PRINTER_SIM_PATH, args, dir_.string(), TOOL_EMULATOR);
        ASSERT_NE(port_, 0) << "printer-sim did not come up";
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        // A run answers once its firmware time has passed: a whole print
        // takes a while of real time under the sanitizers and the emulator.
        client_->set_read_timeout(600, 0);
        // Answered once the set-up is done and the firmware waits.
        ASSERT_TRUE(client_->Get("/api/clock")) << "printer-sim did not finish its set-up";
    }

    // SIGTERM; the exit status, or -1 when it did not exit by itself.
    int stop() { return sim_.stop(); }

    // A fresh printer-sim with the same options, in a fresh sandbox.
    void restart() {
        ASSERT_EQ(stop(), 0);
        ASSERT_TRUE(fs::is_empty(dir_));
        launch();
    }

    // Lets `ms` of firmware time run; the state at its end.
    json run(int64_t ms) {
        auto res = client_->Post("/api/run", json{{"ms", ms}}.dump(), "application/json");
        EXPECT_TRUE(res && res->status == 200) << "run " << ms;
        return res ? json::parse(res->body, nullptr, false) : json();
    }
    // One main-loop pass of firmware time.
    void nap() { run(20); }
    // Runs until `field` of the state reads `want`, at most `limit_ms` of
    // firmware time; whether it did.
    bool runUntil(const char* field, const json& want, int64_t limit_ms) {
        const json body{{"until", {{"field", field}, {"equals", want}}}, {"limit_ms", limit_ms}};
        auto res = client_->Post("/api/run", body.dump(), "application/json");
        EXPECT_TRUE(res && res->status == 200) << field;
        if (!res || res->status != 200) return false;
        return json::parse(res->body, nullptr, false)["run"]["reached"] == true;
    }

    json get(const std::string& path) {
        auto res = client_->Get(path);
        EXPECT_TRUE(res && res->status == 200) << path;
        return res ? json::parse(res->body, nullptr, false) : json();
    }

    // A POST to `path`; the status, or -1.
    int post(const std::string& body, const std::string& path = "/api/board") {
        auto res = client_->Post(path, body, "application/json");
        return res ? res->status : -1;
    }
    // Asks for a print of `name` as the development hook does; the status.
    int print(const std::string& name) { return post(json{{"file", name}}.dump(), "/api/print"); }
    void insertStick(const fs::path& dir, bool unmountable = false) {
        const json body{{"dir", dir.string()}, {"unmountable", unmountable}};
        ASSERT_EQ(post(body.dump(), "/api/usb/insert"), 200);
    }
    void pullStick() { ASSERT_EQ(post("", "/api/usb/remove"), 200); }
    // The firmware's log lines from `since` on.
    std::vector<std::string> logSince(uint64_t since) {
        std::vector<std::string> out;
        const json log = get("/api/log?since=" + std::to_string(since));
        for (const json& l : log["lines"]) out.push_back(l["text"]);
        return out;
    }

    // The G-code trace from `since` on, once `done` holds for it (looked at
    // every 50 ms of firmware time, for at most 100 s).
    template <typename Done>
    json traceWhen(Done done, uint64_t since = 0) {
        json lines;
        for (int i = 0; i < 2000 && !done(lines); ++i, run(50)) {
            lines = get("/api/trace?since=" + std::to_string(since))["lines"];
        }
        return lines;
    }

    // `field` of the state must read `want` within `budget_ms` of firmware time.
    void expectStateWithin(const char* field, int want, int64_t budget_ms) {
        ASSERT_TRUE(runUntil(field, want, budget_ms)) << field << " is " << state()[field];
    }

    static std::vector<int64_t> sentAt(const json& lines, const std::string& text) {
        std::vector<int64_t> t;
        for (const json& l : lines) {
            if (l["dir"] == "tx" && l["text"] == text) t.push_back(l["t"]);
        }
        return t;
    }

    json state() { return get("/api/state"); }

    // A stick folder given to printer-sim with --stick; removed afterwards.
    void makeStick() {
        std::string templ = (fs::temp_directory_path() / "stick-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        stick_ = templ;
        fs::create_directories(stick_ / "pravik3d");
        // The stick is the test's own folder: the tests read what the firmware wrote.
        args_ = {"--stick", stick_.string(), "--stick-write-back"};
    }
    // A second stick beside the first, with its print folder; removed with it.
    fs::path otherStick() const { return stick_.string() + "-other"; }
    fs::path makeOtherStick() const {
        fs::create_directories(otherStick() / "pravik3d");
        return otherStick();
    }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(stick_ / "pravik3d" / name, std::ios::binary) << bytes;
    }

    // Runs until `n` more main-loop passes have run.
    void passes(int n) {
        const uint64_t from = state()["main_loop_passes"];
        ASSERT_TRUE(runUntil("main_loop_passes", from + n, 60000 + 1000 * n));
    }

    // One press at a panel pixel: down for a few main-loop passes, then up
    // for a few, as a quick finger.
    void touch(int x, int y) {
        auto pen = [&](const json& body) {
            const auto res = client_->Post("/api/pen", body.dump(), "application/json");
            ASSERT_TRUE(res && res->status == 200) << body;
        };
        ASSERT_NO_FATAL_FAILURE(pen(json{{"down", true}, {"x", x}, {"y", y}}));
        passes(3);
        ASSERT_NO_FATAL_FAILURE(pen(json{{"down", false}}));
        passes(3);
    }

    void press(const PicRecord& r) { touch((r.x_start + r.x_end) / 2, (r.y_start + r.y_end) / 2); }

    // Home, the browser, its page, two taps on the row: the preview of `name`.
    void openFile(const std::string& name) {
        press(pic_homepagebuttonfile);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        const auto names = state()["file_name_list"].get<std::vector<std::string>>();
        const auto it = std::find(names.begin(), names.end(), name);
        ASSERT_NE(it, names.end()) << name << " is not listed";
        const int at = static_cast<int>(it - names.begin());
        for (int page = 0; page < at / 5; ++page) press(pic_filepagebuttonnextpage);
        const PicRecord* rows[] = {&pic_filepagebuttonchoosefile1, &pic_filepagebuttonchoosefile2,
                                   &pic_filepagebuttonchoosefile3, &pic_filepagebuttonchoosefile4,
                                   &pic_filepagebuttonchoosefile5};
        press(*rows[at % 5]);
        EXPECT_EQ(state()["current_window_ID"], INDEX_WINDOW_FILE);  // a first tap highlights
        press(*rows[at % 5]);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    }
    // From the preview: Curing Time up by `steps` small steps, then OK and
    // the bottom bar's `option` (x in the bar); the confirmation is left up
    // unless `confirm`, which answers yes and returns to the list.
    void editCuringTime(int steps, int option, bool confirm = true) {
        touch(300, 20);  // the more corner
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
        touch(75, 78);  // Curing Time
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETEREDIT));
        for (int i = 0; i < steps; ++i) press(pic_parameterbuttonsmallup);
        press(pic_parameterbuttonok);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
        touch(option, 225);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETERSAVE));
        if (!confirm) return;
        press(pic_parametersaveyes);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    }
    void startFromPreview() {
        press(pic_previewpagebuttonstart);
        press(pic_ledpagedialogyes);
    }
    void endByButton() {
        press(pic_printpagebuttonend);
        press(pic_buttonprintcancelyes);
        ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
        // Home comes with the printing window's next refresh, once a second.
        ASSERT_NO_FATAL_FAILURE(awaitState("current_window_ID", INDEX_WINDOW_HOME, 120));
    }

    // `field` reads `want` within `budget` main-loop passes (counted by the
    // firmware, so a busy machine does not eat into it).
    void awaitState(const char* field, const json& want, uint64_t budget) {
        const uint64_t from = state()["main_loop_passes"];
        ASSERT_TRUE(runUntil(field, want, 60000)) << field << " is " << state()[field];
        ASSERT_LE(state()["main_loop_passes"].get<uint64_t>() - from, budget) << field;
    }
    void awaitWindow(int id) { awaitState("current_window_ID", id, 10); }
    // The print status, within `seconds` of firmware time.
    void awaitStatus(int status, int seconds = 300) {
        ASSERT_TRUE(runUntil("print_status", status, seconds * 1000))
            << "print status never became " << status << ", it is " << state()["print_status"];
    }

    uint64_t mark() { return get("/api/trace")["next"]; }
    // Lines the print thread sent from `since` on, with their firmware time:
    // the main loop's status polls and intensity hand-over left out.
    std::vector<std::pair<int64_t, std::string>> jobLines(uint64_t since) {
        std::vector<std::pair<int64_t, std::string>> out;
        const json trace = get("/api/trace?since=" + std::to_string(since));
        for (const json& l : trace["lines"]) {
            const std::string text = l["text"];
            if (l["dir"] == "tx" && text != "M105" && text.rfind("M108", 0) != 0) {
                out.emplace_back(l["t"], text);
            }
        }
        return out;
    }
    // Time from each "M219" to the line after it: the exposures.
    static std::vector<int64_t> exposures(const std::vector<std::pair<int64_t, std::string>>& l) {
        std::vector<int64_t> out;
        for (size_t i = 0; i + 1 < l.size(); ++i) {
            if (l[i].second == "M219") out.push_back(l[i + 1].first - l[i].first);
        }
        return out;
    }

    // The picture at `path` as RGB bytes; empty when there is none.
    std::vector<uint8_t> pictureRgb(const std::string& path) {
        auto res = client_->Get(path);
        if (!res || res->status != 200) return {};
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, res->body.data(), res->body.size()))
            return {};
        image.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
        return rgb;
    }
    // True when every byte of the mask is 0.
    bool maskDark() {
        const std::vector<uint8_t> rgb = pictureRgb("/api/mask.png?scale=16");
        return !rgb.empty() &&
               std::all_of(rgb.begin(), rgb.end(), [](uint8_t v) { return v == 0; });
    }

    std::vector<std::string> args_{"--no-stick"};  // more printer-sim options
    fs::path stick_;
    fs::path dir_;
    SimProcess sim_;
    // The preset's schedule, or VELMOR_SCENARIO_SCHEDULE's (the run under
    // load takes fibers); a test that compares runs needs a serial one.
    std::string schedule_ = [] {
        const char* chosen = std::getenv("VELMOR_SCENARIO_SCHEDULE");
        return std::string(chosen != nullptr && *chosen != '\0' ? chosen : SCENARIO_SCHEDULE);
    }();
    int port_ = 0;
    uint64_t expectedReadOnlyViolations_ = 0;
    std::unique_ptr<httplib::Client> client_;
};

}  // namespace scenario
