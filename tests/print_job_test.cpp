// The mask writers, the layer reader, the material-test file, the timed wait
// and the time figures.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "firmware/app/global_data.h"
#include "firmware/app/global_func.h"
#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "firmware/print/framebuffer.h"
#include "firmware/print/layer_code.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "print_file_builder.h"
#include "sandbox_fixture.h"

namespace {

bool pixelIs(uint32_t column, uint32_t line, uint8_t value) {
    const uint8_t* p = p_fb + line * FRAME_LINE_BYTES + column * 3;
    return p[0] == value && p[1] == value && p[2] == value;
}

// The mask mapped from the sandbox, as at start-up.
class MaskTest : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        ASSERT_EQ(FB_init(), 0);
        ASSERT_NE(p_fb, nullptr);
    }
    void TearDown() override {
        FB_exit();
        releaseLayerBuffer();
        SandboxTest::TearDown();
    }
};

TEST_F(MaskTest, FillsAndRectanglesCoverExactlyTheirPixels) {
    fbDisplayFill(0, 0, 2160, 3840, 255);
    EXPECT_TRUE(pixelIs(0, 5, 0));
    EXPECT_TRUE(pixelIs(5, 0, 0));
    EXPECT_TRUE(pixelIs(1, 1, 255));
    EXPECT_TRUE(pixelIs(2159, 3839, 255));

    fbDisplayTest(0);
    ASSERT_EQ(display2KRec(320, 420, 1120, 2140, 255), 1);
    EXPECT_TRUE(pixelIs(320, 420, 255));
    EXPECT_TRUE(pixelIs(1119, 2139, 255));
    EXPECT_TRUE(pixelIs(319, 420, 0));
    EXPECT_TRUE(pixelIs(1120, 1000, 0));
    EXPECT_TRUE(pixelIs(500, 2140, 0));
    // Rectangles past the frame are clipped, never written beyond it.
    EXPECT_EQ(display2KRec(2100, 3800, 65535, 65535, 7), 1);
    EXPECT_TRUE(pixelIs(2159, 3839, 7));

    FB_exit();
    EXPECT_EQ(display2KRec(0, 0, 1, 1, 1), LAYER_NO_FRAME);
    FILE* none = tmpfile();
    EXPECT_EQ(Read2KDisplayData(none), LAYER_NO_FRAME);
    fclose(none);
}

TEST_F(MaskTest, LayerRecordsAreCheckedBeforeTheyAreRead) {
    PrintFileBuilder f;
    display_2K_capacity = 16;
    display_2K_data = static_cast<uint8_t*>(malloc(display_2K_capacity));
    auto records = [](std::initializer_list<std::vector<uint8_t>> layers, size_t cut = 0) {
        std::string bytes;
        for (const auto& l : layers) {
            const uint32_t n = static_cast<uint32_t>(l.size());
            bytes.append(reinterpret_cast<const char*>(&n), 4).append(l.begin(), l.end());
        }
        bytes.resize(bytes.size() - cut);
        FILE* fp = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), fp);
        rewind(fp);
        return fp;
    };
    FILE* fp = records({{0x35, 0x32, 0xF3}, {}, std::vector<uint8_t>(17, 0x11)});
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_DONE);
    EXPECT_TRUE(pixelIs(0, 0, 0x33));
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_BAD_COUNT);  // a count of 0
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_BAD_COUNT);  // 17 bytes in a buffer of 16
    fclose(fp);
    fp = records({{0x35, 0x32, 0xF3}}, 1);  // cut short by the end of the file
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_COUNT_UNREADABLE);
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_COUNT_UNREADABLE);  // nothing left
    fclose(fp);
    // A count beyond any frame, whatever the buffer would take (nothing more
    // of the file is there to read).
    display_2K_capacity = UINT32_MAX;
    const uint32_t tooBig[] = {FRAME_BYTES};
    fp = tmpfile();
    fwrite(tooBig, 4, 1, fp);
    rewind(fp);
    EXPECT_EQ(Read2KDisplayData(fp), LAYER_BAD_COUNT);
    fclose(fp);
}

TEST(MaterialTestFile, ParsesEveryKeyInAnyOrderAndChecksTheStoredValue) {
    const std::string keys[] = {"normal_stable_time:1000",
                                "bottom_time:20000",
                                "bottom_stable_time:3000",
                                "total_layer:20",
                                "end_time:10000",
                                "start_time:4000",
                                "first_distance:5",
                                "first_speed:60",
                                "distance2:2",
                                "speed2:120",
                                "back_speed:150",
                                "Zthick:50",
                                "bottom_layer:5"};
    std::string text;
    for (const std::string& k : keys) text += k + "\n";
    ASSERT_EQ(parseMaterialTest(text.data(), text.size()), 1);
    EXPECT_EQ(materialtest.start_time, 4000);
    EXPECT_EQ(materialtest.total_layers, 20);
    EXPECT_EQ(file_information.total_layer, 20);
    EXPECT_EQ(file_information.print_times, 410660u);

    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return parseMaterialTest(t.data(), t.size());
    };
    EXPECT_EQ(with("bottom_layer:5", "bottom_layer:300"), 1);
    EXPECT_EQ(materialtest.bottom_layer, 44);
    EXPECT_EQ(with("bottom_layer:5", "bottom_layer:256"), 0);
    EXPECT_EQ(with("start_time:4000", "start_time:0"), 1);
    EXPECT_EQ(with("bottom_time:20000", "bottom_time:0"), 0);
    EXPECT_EQ(with("speed2:120", "speed2 120"), 0);         // the colon form is missing
    EXPECT_EQ(with("end_time:10000", "end_time:3000"), 0);  // a falling series
    EXPECT_EQ(with("start_time:4000", "start_time:200001"), 0);
    // Only the first 1024 bytes count.
    const std::string padded = std::string(1024, ' ') + text;
    EXPECT_EQ(parseMaterialTest(padded.data(), padded.size()), 0);
}

TEST_F(MaskTest, TheMaterialTestPatternLightsTheBarsInsideTheArea) {
    materialtest.bottom_layer = 2;
    fbDisplayTest(9);
    ASSERT_NE(materialTestDisplayFirst(1), 0);
    EXPECT_TRUE(pixelIs(320, 420, 255));
    EXPECT_TRUE(pixelIs(1119, 2139, 255));
    EXPECT_TRUE(pixelIs(1120, 2139, 9));  // outside the area: untouched
    ASSERT_NE(materialTestDisplayFirst(2), 0);
    EXPECT_TRUE(pixelIs(320, 420, 0));
    EXPECT_TRUE(pixelIs(400, 450, 255));
    EXPECT_TRUE(pixelIs(822, 553, 255));
    EXPECT_TRUE(pixelIs(823, 553, 0));
    EXPECT_TRUE(pixelIs(1033, 1693, 255));
    EXPECT_TRUE(pixelIs(1034, 1693, 0));
    materialTestDisplaySecond(7);
    EXPECT_TRUE(pixelIs(1033, 1693, 0));
    EXPECT_TRUE(pixelIs(400, 1210, 255));
}

TEST_F(MaskTest, TimedWaitsStepInTenthsOfASecond) {
    current_temperature = 25;
    for (const uint32_t ms : {250u, 99u, 0u}) {
        const int64_t t0 = platformMonotonicUs();
        EXPECT_EQ(printWait(ms), 0);
        const int64_t waited = (platformMonotonicUs() - t0) / 1000;
        EXPECT_GE(waited, ms);
        EXPECT_LE(waited, ms + 100) << ms;
    }
    current_temperature = 101;
    const int64_t t0 = platformMonotonicUs();
    EXPECT_EQ(printWait(1000), 1);  // stopped at the first step
    EXPECT_LE((platformMonotonicUs() - t0) / 1000, 400);
    current_temperature = TEMPERATURE_SENSOR_FAILED;
    EXPECT_EQ(printTemperatureError(), 1);
    current_temperature = 100;
    EXPECT_EQ(printTemperatureError(), 0);
    current_temperature = 0;
}

TEST(PrintFigures, CountDownSwitchesToTheMeasuredTotalEveryFiftyLayers) {
    resetMaterialTest();
    printparameter.layer_count = 200;
    file_information.print_times = 2212500;
    file_information.current_layer = 10;
    file_information.elapsed_time = 100;
    calcCountDownTime();
    EXPECT_EQ(Remaining_hours, 0);
    EXPECT_EQ(Remaining_minutes, 35);

    adjustprinttimestatue = 1;
    file_information.current_layer = 50;
    file_information.elapsed_time = 600;
    calcCountDownTime();
    EXPECT_EQ(print_total_time, 2400u);
    EXPECT_EQ(Remaining_minutes, 30);
    file_information.elapsed_time = 700;
    calcCountDownTime();  // still layer 50: not renewed
    EXPECT_EQ(print_total_time, 2400u);
    file_information.current_layer = 51;
    calcCountDownTime();
    EXPECT_EQ(print_total_time, 2400u);
    EXPECT_EQ(adjustprinttimestatue, 1);
    file_information.elapsed_time = 5000;
    calcCountDownTime();
    EXPECT_EQ(Remaining_hours, 0);
    EXPECT_EQ(Remaining_minutes, 0);

    file_information.elapsed_time = 3725;
    calcCountUpTime();
    EXPECT_EQ(cp_time_hours, 1);
    EXPECT_EQ(cp_time_minutes, 2);
    EXPECT_EQ(cp_time_seconds, 5);

    file_information.total_layer = 0;
    EXPECT_EQ(calcProgress(), 0);

    // Long prints: the true hours, never wrapped; clamped where the box ends.
    file_information.current_layer = 10;
    file_information.elapsed_time = 0;
    file_information.print_times = (278 * 60 + 40) * 60000u;
    calcCountDownTime();
    EXPECT_EQ(Remaining_hours, 278);
    EXPECT_EQ(Remaining_minutes, 40);
    adjustprinttimestatue = 1;
    file_information.current_layer = 50;
    printparameter.layer_count = 65535;
    file_information.elapsed_time = 70000;  // 70,000 x 65,535 passes 32 bits
    calcCountDownTime();
    EXPECT_EQ(print_total_time, 91749000u);
    EXPECT_EQ(Remaining_hours, 9999);
    EXPECT_EQ(Remaining_minutes, 59);
    file_information.elapsed_time = 256 * 3600 + 61;
    calcCountUpTime();
    EXPECT_EQ(cp_time_hours, 256);
    EXPECT_EQ(cp_time_minutes, 1);
    file_information.elapsed_time = UINT32_MAX;
    calcCountUpTime();
    EXPECT_EQ(cp_time_hours, 9999);
    EXPECT_EQ(cp_time_seconds, 59);
    file_information.total_layer = 200;
    file_information.current_layer = 51;
    EXPECT_EQ(calcProgress(), 25);
}

}  // namespace
