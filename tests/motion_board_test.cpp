#include <gtest/gtest.h>

#include <string>

#include "firmware/link/command.h"
#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "serial_fixture.h"
#include "sim/motion/motion_board.h"

namespace {

// Runs a reply through the firmware's own parser.
void parse(const sim::BoardReply& reply) {
    storeStatusReply(reply.text.data(), reply.text.size());
    checkM105cmd();
}

// The reply is due `delay_us` after its line: bounded by the firmware clock
// taken before the line (t0) and now, after it.
void expectDue(const sim::BoardReply& reply, int64_t t0, int64_t delay_us) {
    EXPECT_GE(reply.at_us, t0 + delay_us) << "delay " << delay_us;
    EXPECT_LE(reply.at_us, platformMonotonicUs() + delay_us) << "delay " << delay_us;
}

TEST(MotionBoard, AnswersEveryLineAndReportsStatusTheFirmwareReads) {
    sim::MotionBoard board;
    for (const char* line : {"G21", "G91", "G1 Z1 F300", "G90", "G28 Z0", "G92 Z0", "M219", "M220",
                             "M106 S10", "M108 S9", "M107 S250", "M227", "M105", "X9"}) {
        EXPECT_EQ(board.handleLine(line).text.rfind("ok", 0), 0u) << line;
    }
    board.setTemperature(47);
    current_temperature = 0;
    parse(board.handleLine("M105"));
    EXPECT_EQ(current_temperature.load(), 47);
    EXPECT_EQ(pravik3dprinter.zmin_state.load(), 1);
    EXPECT_EQ(pravik3dprinter.zmax_state.load(), 0);
    EXPECT_GT(pravik3dprinter.rpm_value.load(), 0) << "the fan is on";
    EXPECT_EQ(checkTemperature(), 1);

    board.handleLine("G92 Z190");  // the top of the travel
    board.setFaults({.sensor_failure = true});
    parse(board.handleLine("M105"));
    EXPECT_EQ(current_temperature.load(), TEMPERATURE_SENSOR_FAILED);
    EXPECT_EQ(pravik3dprinter.zmin_state.load(), 0);
    EXPECT_EQ(pravik3dprinter.zmax_state.load(), 1);
    EXPECT_EQ(checkTemperature(), TEMPERATURE_REFUSED);
}

TEST(MotionBoard, RepliesAreDueWhenTheMovesHaveTakenTheirTime) {
    sim::MotionBoard board;
    int64_t t0 = platformMonotonicUs();
    expectDue(board.handleLine("M227"), t0, 0);
    t0 = platformMonotonicUs();
    board.handleLine("G1 Z5 F60");
    expectDue(board.handleLine("M227"), t0, 5000000);

    sim::MotionBoard homing;
    homing.handleLine("G92 Z30");
    t0 = platformMonotonicUs();
    expectDue(homing.handleLine("G28"), t0, 6000000);  // 30 mm at the homing feed
}

TEST(MotionBoard, FaultsChangeTheAnswer) {
    sim::MotionBoard board;
    board.setFaults({.silent = true});
    EXPECT_TRUE(board.handleLine("M105").text.empty());
    board.setFaults({.noisy = true});
    const std::string noise = board.handleLine("M105").text;
    EXPECT_EQ(noise.find("ok"), std::string::npos);
    EXPECT_GE(noise.size(), static_cast<size_t>(kReplySize));
    board.setFaults({.slow_ms = 500});
    const int64_t t0 = platformMonotonicUs();
    expectDue(board.handleLine("M227"), t0, 500000);
}

using MotionBoardLink = SerialFixture;

TEST_F(MotionBoardLink, StatusQueryWaitsForTheMoveThroughTheLine) {
    sim::MotionBoard& board = startBoard();
    const int64_t t0 = platformMonotonicUs();
    const char move[] = "G1 Z5.000000 F60.000000";
    ASSERT_EQ(send_engine_commands(move, sizeof move - 1), 0);
    ASSERT_EQ(send_engine_commands(printSts, 4), 0);
    EXPECT_GE(platformMonotonicUs() - t0, 5000000);
    EXPECT_DOUBLE_EQ(board.snapshot().z, 5.0);
}

}  // namespace
