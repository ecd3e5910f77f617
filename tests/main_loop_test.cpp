#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/app/global_data.h"
#include "firmware/app/global_func.h"
#include "firmware/link/command.h"
#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "firmware/print/print.h"
#include "firmware/ui/ui.h"
#include "serial_fixture.h"

namespace {

class MainLoopTest : public SerialFixture {
  protected:
    // The intensity hand-over of the first pass is tested on its own.
    void SetUp() override {
        SerialFixture::SetUp();
        save_pwm_led = 0;
    }

    // No file is selected: the job waits in its data error for the cancel
    // that takes it to its end; bounded so a job that never ends fails.
    static bool jobFinished() {
        for (int i = 0; i < 20000; ++i) {
            if (getPrintStatus() == PRINT_DATA_ERROR) setCurrentButton(rOPER_CANCEL);
            if (getPrintStatus() == PRINT_END && is_printing_true == 0) return true;
            msleep(1);
        }
        return false;
    }
};

TEST_F(MainLoopTest, PollsOnEveryFiftiethPassAndParsesTheReply) {
    sim::MotionBoard& board = startBoard();
    board.setTemperature(37);
    uint32_t n = 0;
    for (uint32_t pass = 0; pass < 100; ++pass) {
        if (pass == 25) board.setTemperature(41);
        const size_t before = sentSince().size();
        n = mainLoopPass(n);
        EXPECT_EQ(n, pass % 50 + 1) << "pass " << pass;
        const std::vector<std::string> lines = sentSince();
        ASSERT_EQ(lines.size(), before + (pass % 50 == 0 ? 1 : 0)) << "pass " << pass;
        if (pass % 50 == 0) {
            EXPECT_EQ(lines.back(), "M105");
        }
        // The change at pass 25 shows only once the next poll has read it.
        EXPECT_EQ(current_temperature.load(), pass < 50 ? 37 : 41) << "pass " << pass;
    }
    EXPECT_EQ(sentSince().size(), 2u);
}

TEST_F(MainLoopTest, TheFirstPassHandsTheStoredIntensityToTheBoardOnce) {
    sim::MotionBoard& board = startBoard();
    save_pwm_led = 1;  // as at start-up; no settings files: the default
    mainLoopPass(1);
    mainLoopPass(2);
    EXPECT_EQ(sentSince(), std::vector<std::string>{"M108 S250"});
    EXPECT_EQ(board.snapshot().stored_intensity, 250);
}

TEST_F(MainLoopTest, PrintingWindowSkipsTheQueryButParsesTheKeptReply) {
    startBoard();
    const char reply[] = "ok 3300mv/0rpm/0rpm/48T/0 Zmin1 Zmax0\n";
    storeStatusReply(reply, strlen(reply));
    current_temperature = 0;
    current_window_ID = INDEX_WINDOW_PRINT;
    mainLoopPass(0);
    current_window_ID = INDEX_WINDOW_HOME;
    EXPECT_TRUE(sentSince().empty());
    EXPECT_EQ(current_temperature.load(), 48);
}

TEST_F(MainLoopTest, PrintRequestStartsTheJobWithinOnePassAtAnyCount) {
    startBoard();
    for (uint32_t n = 0; n < 50; ++n) {
        setPrintStatus(0);
        total_paused_get_time = 7;
        paused_get_time = 3;
        creat_print_pthread = 1;
        mainLoopPass(n);
        EXPECT_EQ(creat_print_pthread.load(), 0) << "n " << n;
        EXPECT_EQ(pre_get_time.load(), static_cast<int32_t>(tv1.tv_sec)) << "n " << n;
        EXPECT_EQ(total_paused_get_time.load(), 0);
        EXPECT_EQ(paused_get_time.load(), 0);
        ASSERT_TRUE(jobFinished()) << "n " << n;
    }
}

TEST_F(MainLoopTest, StartUpTurnsTheFanOnFirstAndNeedsNoPort) {
    sim::MotionBoard& board = startBoard();
    closePort();
    usb_file_count = 3;
    EXPECT_EQ(startUp(), 0);
    EXPECT_TRUE(sentSince().empty());
    EXPECT_EQ(usb_file_count.load(), USB_COUNT_UNSCANNED);

    SerialCtrlInit();
    usb_file_count = 3;
    EXPECT_EQ(startUp(), 0);
    ASSERT_FALSE(sentSince().empty());
    EXPECT_EQ(sentSince().front(), "M107 S250");
    EXPECT_EQ(board.snapshot().fan, 250);
    EXPECT_EQ(usb_file_count.load(), USB_COUNT_UNSCANNED);
}

TEST_F(MainLoopTest, SleepAndElapsedFollowTheFirmwareClock) {
    const timeval start = monotonicTimeval();
    const int64_t before = platformMonotonicUs();
    EXPECT_EQ(msleep(250), 0);
    const uint32_t elapsed = timeElapsed(start.tv_sec, start.tv_usec);
    const int64_t after = platformMonotonicUs();
    EXPECT_GE(after - before, 250000);
    EXPECT_GE(elapsed, 250u);
    EXPECT_LE(elapsed, static_cast<uint32_t>((after - before) / 1000 + 1));

    // A start whose microseconds exceed now's borrows from the seconds.
    const int64_t now = platformMonotonicUs();
    const int64_t then = (now / 1000000 - 2) * 1000000 + 999999;
    const uint32_t e = timeElapsed(then / 1000000, then % 1000000);
    EXPECT_GE(e, static_cast<uint32_t>((now - then) / 1000));
    EXPECT_LE(e, static_cast<uint32_t>((platformMonotonicUs() - then) / 1000 + 1));
}

}  // namespace
