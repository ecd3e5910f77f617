// A careless slicer, a hostile file and a hurried user at the simulator: none
// of them drives the machine outside its envelope or damages a file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace {

using namespace scenario;

class SafetyScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        put("job.pvk4k", PrintFileBuilder::quick(6).bytes());
        SimScenario::SetUp();
        ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
        passes(2);
    }
    void pull() {
        ASSERT_NO_FATAL_FAILURE(pullStick());
        ASSERT_NO_FATAL_FAILURE(awaitState("s_isMounted", 0, 150));
    }
};

TEST_F(SafetyScenario, AFileChangedSinceItsPreviewEndsTheJobAsADataErrorWithNothingSent) {
    ASSERT_NO_FATAL_FAILURE(openFile("job.pvk4k"));
    PrintFileBuilder other = PrintFileBuilder::quick(6);
    other.p.ZThick = 0.1f;
    // Changed behind the firmware's back, as no read-only mount allows.
    expectedReadOnlyViolations_ = 1;
    const fs::path job = stick_ / "pravik3d/job.pvk4k";
    const auto then = fs::last_write_time(job);
    put("job.pvk4k", other.bytes());
    fs::last_write_time(job, then + std::chrono::seconds(2));
    const uint64_t since = mark();
    startFromPreview();
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_DATA_ERROR));
    EXPECT_TRUE(jobLines(since).empty());
    ASSERT_NO_FATAL_FAILURE(endByButton());
}

TEST_F(SafetyScenario, TheListShowsOnlyNamesOnTheStickAndAnUnmountableStickIsNotMounted) {
    // A name the list cannot hold: neither listed nor counted.
    ASSERT_NO_FATAL_FAILURE(pull());
    put(std::string(130, 'n') + ".pvk4k", PrintFileBuilder::quick(1).bytes());
    ASSERT_NO_FATAL_FAILURE(insertStick(stick_));
    ASSERT_NO_FATAL_FAILURE(awaitState("s_isMounted", 1, 150));
    passes(2);
    EXPECT_EQ(state()["usb_file_count"], 1);
    const json names = state()["file_name_list"];
    for (const json& n : names) EXPECT_TRUE(fs::exists(stick_ / "pravik3d" / n.get<std::string>()));

    ASSERT_NO_FATAL_FAILURE(pull());
    ASSERT_NO_FATAL_FAILURE(insertStick(stick_, true));
    ASSERT_NO_FATAL_FAILURE(awaitState("s_ishotplug", 0, 150));  // the attempt was made
    passes(60);
    EXPECT_EQ(state()["s_isMounted"], 0);
    EXPECT_EQ(state()["USB_detected"], 0);
}

TEST_F(SafetyScenario, TheCountDownOfAVeryLongPrintShowsItsTrueHours) {
    PrintFileBuilder f = PrintFileBuilder::quick(0);
    f.p.ZThick = 0.001f;
    f.p.curing_time = 14000;
    f.p.layer_count = 65535;
    f.layers.assign(65535, {0x00});
    ASSERT_NO_FATAL_FAILURE(pull());
    put("long.pvk4k", f.bytes());
    ASSERT_NO_FATAL_FAILURE(insertStick(stick_));
    ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 2, 150));
    ASSERT_NO_FATAL_FAILURE(openFile("long.pvk4k"));
    startFromPreview();
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    ASSERT_NO_FATAL_FAILURE(awaitState("print_status", PRINT_RUNNING, 150));
    passes(55);  // one refresh of the figures
    // About 274 hours, which 8 bits would show as 18.
    EXPECT_GE(state()["Remaining_hours"].get<int>(), 270);
    EXPECT_LE(state()["Remaining_hours"].get<int>(), 280);
    ASSERT_NO_FATAL_FAILURE(endByButton());
}

}  // namespace
