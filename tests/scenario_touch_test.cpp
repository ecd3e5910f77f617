// What a person does at the panel, through touches only: from power-on to a
// print with an edited parameter, pausing, resuming and ending it; the light
// test.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "firmware/print/print.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace {

using namespace scenario;

// Seven files: two pages. The job is the quick one with a longer run.
class TouchScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        for (int i = 0; i < 6; ++i) put("part" + std::to_string(i) + ".pvk4k", small_);
        put("job.pvk4k", PrintFileBuilder::quick(12).bytes());
        SimScenario::SetUp();
        ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 7, 150));
        passes(2);
    }
    void openJob() { ASSERT_NO_FATAL_FAILURE(openFile("job.pvk4k")); }
    std::string jobFile() const {
        std::ifstream in(stick_ / "pravik3d/job.pvk4k", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    const std::string small_ = PrintFileBuilder::quick(1).bytes();
};

TEST_F(TouchScenario, AnEditedPrintIsPausedResumedAndEndedFromThePanel) {
    ASSERT_NO_FATAL_FAILURE(openJob());
    ASSERT_NO_FATAL_FAILURE(editCuringTime(5, 160));  // 1000 + 5 x 100, applied
    touch(300, 20);  // the return corner keeps the edit for the preview
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    const uint64_t since = mark();
    startFromPreview();
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    ASSERT_NO_FATAL_FAILURE(awaitState("current_layer", 4, 5000));

    press(pic_printpagebuttonpause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_PAUSED));
    press(pic_printpagebuttonpause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_RUNNING));
    ASSERT_NO_FATAL_FAILURE(endByButton());

    const auto lines = jobLines(since);
    const std::vector<int64_t> e = exposures(lines);
    ASSERT_GE(e.size(), 4u);
    EXPECT_GE(e[0], 2000);  // a bottom layer
    for (size_t i = 2; i < e.size(); ++i) {
        EXPECT_GE(e[i], 1500) << "layer " << i + 1;
        EXPECT_LE(e[i], 1500 + 100 + 400) << "layer " << i + 1;
    }
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].second, "G0 Z40 F300");
    EXPECT_EQ(jobFile(), PrintFileBuilder::quick(12).bytes()) << "apply does not write the file";
}

TEST_F(TouchScenario, TheLightTestLightsTheMaskAndBackSwitchesItOff) {
    press(pic_homepagebuttonsetting);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    press(pic_settingpagebuttonled);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    const uint64_t since = mark();
    touch(160, 185);  // on/off
    press(pic_ledpagedialogyes);
    ASSERT_NO_FATAL_FAILURE(awaitState("light_on", 1, 20));
    EXPECT_TRUE(get("/api/board")["light"].get<bool>());
    EXPECT_FALSE(maskDark());
    touch(240, 183);  // the pattern: black
    EXPECT_TRUE(maskDark());
    touch(240, 110);  // back
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());
    std::vector<std::string> lines;
    for (const auto& l : jobLines(since)) lines.push_back(l.second);
    EXPECT_EQ(lines, (std::vector<std::string>{"M106 S250", "M220"}));
}

}  // namespace
