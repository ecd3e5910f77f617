// Whole prints in printer-sim, started and steered by its development hooks,
// checked against the G-code trace, the board model and the mask.
#include <gtest/gtest.h>

#include "firmware/print/print.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace {

using namespace scenario;

class PrintScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        put("four.pvk4k", PrintFileBuilder::quick(4).bytes());
        put("long.pvk4k", PrintFileBuilder::quick(30).bytes());
        PrintFileBuilder bad = PrintFileBuilder::quick(3);
        bad.layers[1] = {};  // a record with a count of 0
        put("bad.pvk4k", bad.bytes());
        put("Velmor4Kprintmaterialtestfile.pvk4k",
            "start_time:400 end_time:1000 Zthick:50 bottom_layer:1 total_layer:3\n"
            "first_speed:300 back_speed:300 speed2:300 first_distance:1 distance2:1\n"
            "bottom_time:800 bottom_stable_time:200 normal_stable_time:200\n");
        SimScenario::SetUp();
        expectStateWithin("usb_file_count", 4, 3000);
    }
    void request(const char* what) {
        auto res =
            client_->Post("/api/print/request", json{{"request", what}}.dump(), "application/json");
        ASSERT_TRUE(res && res->status == 200) << what;
    }
    void awaitLayer(int layer) {
        ASSERT_TRUE(runUntil("current_layer", layer, 300000)) << "layer " << layer;
    }
};

TEST_F(PrintScenario, AFinishedPrintSendsTheDescribedLinesAndLeavesTheMaskDark) {
    const uint64_t since = mark();
    ASSERT_EQ(print("four.pvk4k"), 200);
    awaitStatus(PRINT_END);
    const auto lines = jobLines(since);
    std::vector<std::string> want = {"M227",   "M220", "G21",  "G91",
                                     "G28 Z0", "M227", "M227", "M107 S250"};
    for (int layer = 1; layer <= 4; ++layer) {
        for (const char* l : {"M227", "M220", "M227", "M219", "M227", "M220", "M227", "M220",
                              "G1 Z1.000000 F300.000000", "G1 Z1.050000 F300.000000", "M227",
                              "M220", "G1 Z-2.000000 F300.000000"}) {
            want.emplace_back(l);
        }
    }
    for (const char* l : {"M220", "G91", "G0 Z40 F300", "M227"}) want.emplace_back(l);
    std::vector<std::string> got;
    for (const auto& l : lines) got.push_back(l.second);
    EXPECT_EQ(got, want);

    // Two bottom layers by the float comparison, then normal ones; each
    // exposure within its 100 ms step plus the replies.
    const std::vector<int64_t> e = exposures(lines);
    ASSERT_EQ(e.size(), 4u);
    const int64_t want_ms[] = {2000, 2000, 1000, 1000};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_GE(e[i], want_ms[i]) << "layer " << i + 1;
        EXPECT_LE(e[i], want_ms[i] + 100 + 300) << "layer " << i + 1;
    }
    const json board = get("/api/board");
    EXPECT_NEAR(board["z_target"].get<double>(), 4 * 0.05 + 40, 1e-3);
    EXPECT_FALSE(board["light"].get<bool>());
    EXPECT_TRUE(maskDark());
    EXPECT_EQ(get("/api/state")["current_button"], 10);
}

TEST_F(PrintScenario, PauseHoldsAfterTheLiftAndCancelWhilePausedSkipsTheMoveDown) {
    ASSERT_EQ(print("long.pvk4k"), 200);
    awaitLayer(2);
    request("pause");
    awaitStatus(PRINT_PAUSED);
    const int layer = get("/api/state")["current_layer"];
    // While paused: status polls only, no motion, the light off.
    const uint64_t paused = mark();
    run(1500);
    const json polls = get("/api/trace?since=" + std::to_string(paused))["lines"];
    EXPECT_GE(sentAt(polls, "M105").size(), 5u);
    EXPECT_TRUE(jobLines(paused).empty());
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());

    request("resume");
    awaitLayer(layer + 1);
    request("pause");
    awaitStatus(PRINT_PAUSED);
    const int last = get("/api/state")["current_layer"];
    const double lifted = get("/api/board")["z_target"];
    EXPECT_NEAR(lifted, last * 0.05 + 2, 1e-3);  // the lift of the last layer, not lowered
    const uint64_t cancel = mark();
    request("cancel");
    awaitStatus(PRINT_END);
    std::vector<std::string> got;
    for (const auto& l : jobLines(cancel)) got.push_back(l.second);
    EXPECT_EQ(got, (std::vector<std::string>{"M220", "G91", "G0 Z40 F300", "M227"}));
    EXPECT_NEAR(get("/api/board")["z_target"].get<double>(), lifted + 40, 1e-3);
    EXPECT_EQ(get("/api/state")["current_button"], 10);
}

TEST_F(PrintScenario, TemperatureErrorsTurnTheLightOffAndWaitForCancel) {
    for (const char* fault : {R"({"temperature":101})", R"({"sensor_failure":true})"}) {
        SCOPED_TRACE(fault);
        ASSERT_EQ(post(R"({"temperature":30,"sensor_failure":false})"), 200);
        expectStateWithin("current_temperature", 30, 3000);
        ASSERT_EQ(print("long.pvk4k"), 200);
        awaitLayer(2);
        ASSERT_EQ(post(fault), 200);
        awaitStatus(PRINT_TEMP_ERROR);
        EXPECT_FALSE(get("/api/board")["light"].get<bool>());
        EXPECT_EQ(get("/api/state")["light_on"], 0);
        const uint64_t cancel = mark();
        request("cancel");
        awaitStatus(PRINT_END);
        const auto lines = jobLines(cancel);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[lines.size() - 2].second, "G0 Z40 F300");
        EXPECT_EQ(get("/api/state")["current_button"], 10);
    }
}

TEST_F(PrintScenario, APulledStickAndABadRecordAreDataErrors) {
    ASSERT_EQ(print("bad.pvk4k"), 200);
    awaitStatus(PRINT_DATA_ERROR);
    EXPECT_EQ(get("/api/state")["current_layer"], 1);  // the second record is refused
    request("cancel");
    awaitStatus(PRINT_END);

    ASSERT_EQ(print("long.pvk4k"), 200);
    awaitLayer(2);
    ASSERT_NO_FATAL_FAILURE(pullStick());
    awaitStatus(PRINT_DATA_ERROR);
    request("cancel");
    awaitStatus(PRINT_END);
}

TEST_F(PrintScenario, EveryWriteToTheMaskIsReportedAlsoDuringAnExposure) {
    const auto writes = [&] { return get("/api/board")["mask_writes"].get<uint64_t>(); };
    uint64_t before = writes();
    ASSERT_EQ(print("four.pvk4k"), 200);
    awaitStatus(PRINT_END);
    EXPECT_GE(writes() - before, 4u) << "one at least for each layer";

    // The material test darkens its bars one by one while the light is on.
    ASSERT_EQ(print("Velmor4Kprintmaterialtestfile.pvk4k"), 200);
    ASSERT_TRUE(runUntil("light_on", 1, 60000));
    ASSERT_TRUE(runUntil("light_on", 0, 300000));  // past the bottom layer's exposure
    ASSERT_TRUE(runUntil("light_on", 1, 60000));
    before = writes();
    ASSERT_TRUE(runUntil("light_on", 0, 300000));
    EXPECT_GT(writes(), before);
    awaitStatus(PRINT_END);
}

TEST_F(PrintScenario, MaterialTestStepsTheBarsAndEstimates) {
    const uint64_t since = mark();
    ASSERT_EQ(print("Velmor4Kprintmaterialtestfile.pvk4k"), 200);
    awaitStatus(PRINT_END);
    const json state = get("/api/state");
    EXPECT_EQ(state["total_layer"], 3);
    // 1 x (200 + 800) + 2 x (1000 + 200) + 3 x (200 + 6 + 200)
    EXPECT_EQ(state["print_times"], 1000 + 2400 + 3 * 406);
    const auto lines = jobLines(since);
    const std::vector<int64_t> e = exposures(lines);
    ASSERT_EQ(e.size(), 3u);
    // The bottom layer for its time; then the start time and three intervals.
    const int64_t want_ms[] = {800, 400 + 3 * 300, 400 + 3 * 300};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(e[i], want_ms[i]) << "layer " << i + 1;
        EXPECT_LE(e[i], want_ms[i] + 4 * 100 + 300) << "layer " << i + 1;
    }
    EXPECT_EQ(lines.front().second, "M227");
    EXPECT_EQ(lines[4].second, "G28 Z0");
    EXPECT_NE(lines[6].second, "M107 S250");  // no fan line after the prepare group
}

}  // namespace
