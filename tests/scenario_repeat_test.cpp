// The same inputs give the same run: a session at the panel, made three
// times in lock-step, leaves byte-identical G-code traces and firmware logs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/print/print.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace {

using namespace scenario;

class RepeatScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        put("job.pvk4k", PrintFileBuilder::quick(12).bytes());
        put("other.pvk4k", PrintFileBuilder::quick(2).bytes());
        args_ = {"--no-stick"};
        schedule_ = "serial";  // side by side, runs do not repeat
        SimScenario::SetUp();
    }

    // Insert the stick, open the job by touches, print, pause, resume and
    // cancel; then every trace and log line with its firmware time. Lines
    // that print an address of this run are left out: the working folder
    // (in the sandbox) and the layer buffer's heap address.
    std::vector<std::string> session() {
        std::vector<std::string> out;
        insertStick(stick_);
        awaitState("usb_file_count", 2, 150);
        openFile("job.pvk4k");
        startFromPreview();
        awaitState("current_layer", 3, 5000);
        press(pic_printpagebuttonpause);
        awaitStatus(PRINT_PAUSED);
        press(pic_printpagebuttonpause);
        awaitStatus(PRINT_RUNNING);
        endByButton();
        if (HasFailure()) return out;
        const json trace = get("/api/trace"), log = get("/api/log");
        for (const json& l : trace["lines"]) {
            out.push_back(std::to_string(l["t"].get<int64_t>()) + " " +
                          l["dir"].get<std::string>() + " " + l["text"].get<std::string>());
        }
        for (const json& l : log["lines"]) {
            const std::string text = l["text"];
            if (text.find(dir_.string()) != std::string::npos) continue;
            if (text.rfind("display_2K_data:", 0) == 0) continue;
            out.push_back(std::to_string(l["t"].get<int64_t>()) + " log " + text);
        }
        return out;
    }
};

TEST_F(RepeatScenario, ThreeRunsOfOneSessionGiveTheSameTraceAndLog) {
    const std::vector<std::string> first = session();
    ASSERT_GT(first.size(), 100u);
    // And the same as committed: what makes the simulator faster must leave
    // what it runs as it was. After a deliberate change, regenerate with
    // VELMOR_UPDATE_GOLDEN=1 build/host/bin/scenario_tests --gtest_filter=Repeat*.
    const fs::path golden = fs::path(VELMOR_GOLDEN_DIR) / "session-run.txt";
    if (getenv("VELMOR_UPDATE_GOLDEN") != nullptr) {
        std::ofstream out(golden);
        for (const std::string& l : first) out << l << '\n';
    } else {
        std::ifstream in(golden);
        std::vector<std::string> want;
        for (std::string line; std::getline(in, line);) want.push_back(line);
        ASSERT_FALSE(want.empty()) << golden;
        for (size_t i = 0; i < std::min(want.size(), first.size()); ++i) {
            ASSERT_EQ(first[i], want[i]) << "line " << i + 1 << " of " << golden.filename();
        }
        ASSERT_EQ(first.size(), want.size());
    }
    for (int run = 2; run <= 3; ++run) {
        // The last with the parties as fibers: the same run.
        if (run == 3) schedule_ = "fibers";
        ASSERT_NO_FATAL_FAILURE(restart());
        const std::vector<std::string> again = session();
        ASSERT_EQ(again.size(), first.size()) << "run " << run;
        for (size_t i = 0; i < first.size(); ++i) {
            ASSERT_EQ(again[i], first[i]) << "run " << run << ", line " << i;
        }
    }
}

}  // namespace
