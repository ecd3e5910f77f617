// Touch sampling through the simulated XPT2046, and the calibration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "firmware/display/driver.h"
#include "firmware/touch/lcdtp.h"
#include "sandbox_fixture.h"
#include "sim/panel/board_io.h"
#include "sim/sim_platform.h"

namespace {

class TouchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GPIO_init();
        SPI_init();
        saved_ = sim::touchChip().physics();
    }
    void TearDown() override {
        sim::touchChip().release();
        sim::updatePenLine();
        sim::touchChip().setPhysics(saved_);
        close(fd_spi);
    }
    // Every conversion reads exactly (x, y) while pressed.
    static void pressRaw(double x, double y) {
        sim::touchChip().setPhysics({x, 0, y, 0});
        sim::touchChip().press(0, 0);
        sim::updatePenLine();
    }
    sim::TouchPhysics saved_;
};

TEST(TouchFilter, OutliersNeverReachTheMiddleFiveAndReadingsAgreeWithinFortyNine) {
    uint16_t s[15] = {100, 100, 4000, 100, 100, 100, 0, 100, 100, 100, 100, 100, 100, 100, 100};
    EXPECT_EQ(touchMedianFilter(s), 100);
    uint16_t ramp[15] = {14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    EXPECT_EQ(touchMedianFilter(ramp), 7);  // (5+6+7+8+9)/5
    // Two readings agree within 49.
    EXPECT_TRUE(touchReadingsAgree(1000, 1049));
    EXPECT_TRUE(touchReadingsAgree(1049, 1000));
    EXPECT_FALSE(touchReadingsAgree(1000, 1050));
    EXPECT_FALSE(touchReadingsAgree(1050, 1000));
    EXPECT_TRUE(touchReadingsAgree(10, 10));  // no unsigned wrap near the bottom
    EXPECT_FALSE(touchReadingsAgree(10, 60));
}

TEST_F(TouchTest, ConvertsWithTheCalibrationAndKeepsTheLastValueOnFailure) {
    tp_dev = {3900, 3800, 11900, 17800};
    pressRaw(300, 3800);
    EXPECT_EQ(readpen(), 0);
    ASSERT_EQ(Convert_Pos(), 1);
    EXPECT_EQ(tp_pixlcd.x, 302);  // 3600 * 1000 / 11900
    EXPECT_EQ(tp_pixlcd.y, 0);
    sim::touchChip().release();
    sim::updatePenLine();
    EXPECT_EQ(Convert_Pos(), 0);
    EXPECT_EQ(tp_pixlcd.x, 302);
    // A calibration without scale converts nothing instead of dividing by zero.
    tp_dev.vx = 0;
    pressRaw(300, 3800);
    EXPECT_EQ(Convert_Pos(), 0);
}

TEST(TouchCalibrationMath, WorkedExampleAndTheAgreementLimit) {
    TouchCalibration c{};
    const TouchPoint s[4] = {{3300, 3000}, {700, 3000}, {3300, 500}, {700, 500}};
    ASSERT_TRUE(touchCalibrationFromSamples(s, c));
    EXPECT_EQ(c.vx, 11813);
    EXPECT_EQ(c.vy, 17850);
    EXPECT_EQ(c.chx, 3890);
    EXPECT_EQ(c.chy, 3892);
    // Scale estimates 10000 and 11600 disagree; 10000 and 11500 do not.
    const TouchPoint off[4] = {{3000, 3000}, {799, 3000}, {3000, 500}, {447, 500}};
    EXPECT_FALSE(touchCalibrationFromSamples(off, c));
    const TouchPoint near[4] = {{3000, 3000}, {799, 3000}, {3000, 500}, {469, 500}};
    EXPECT_TRUE(touchCalibrationFromSamples(near, c));
    // Four touches at one spot give no scale at all.
    const TouchPoint same[4] = {{2000, 2000}, {2000, 2000}, {2000, 2000}, {2000, 2000}};
    EXPECT_FALSE(touchCalibrationFromSamples(same, c));
}

class CalibrationFileTest : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        tp_dev = {1, 2, 3, 4};
    }
    std::string path() const { return root_ + "/opt/Pravik3D/tpAdjustdata.txt"; }
    void write(const std::string& text) const { std::ofstream(path(), std::ios::binary) << text; }
};

TEST_F(CalibrationFileTest, RefusesWrongCutShortAndScaleLessFiles) {
    for (const char* text : {"9\r\n11900\r\n17800\r\n3900\r\n3800\r\n", "10\r\n11900\r\n17800\r\n",
                             "10\r\n0\r\n17800\r\n3900\r\n3800\r\n", "", "10",
                             // 2^32 + 1 is no scale of 1, on any board
                             "10\r\n4294967297\r\n17800\r\n3900\r\n3800\r\n"}) {
        write(text);
        EXPECT_EQ(tpGetAdjdata(), 0) << text;
        EXPECT_EQ(tp_dev.vx, 3) << "nothing taken from " << text;
    }
    std::filesystem::remove(path());
    EXPECT_EQ(tpGetAdjdata(), 0);
}

TEST_F(CalibrationFileTest, SaveWritesFiveLinesAndReadsBack) {
    tp_dev = {3890, 3892, 11813, 17850};
    ASSERT_EQ(tpSaveAdjdata(), 1);
    std::ifstream in(path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "10\r\n11813\r\n17850\r\n3890\r\n3892\r\n");
    EXPECT_FALSE(std::filesystem::exists(path() + ".tmp"));
    tp_dev = {};
    ASSERT_EQ(tpGetAdjdata(), 1);
    EXPECT_EQ(tp_dev.vx, 11813);
    EXPECT_EQ(tp_dev.vy, 17850);
    EXPECT_EQ(tp_dev.chx, 3890);
    EXPECT_EQ(tp_dev.chy, 3892);
}

}  // namespace
