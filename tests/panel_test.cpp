// The panel driver on the simulated bus and the drawing primitives.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "firmware/display/draw.h"
#include "firmware/display/driver.h"
#include "firmware/display/ili9341_commands.h"
#include "firmware/platform/platform.h"
#include "sim/panel/board_io.h"
#include "sim/panel/ili9341_model.h"

namespace {

uint16_t pixelAt(int x, int y) {
    return static_cast<uint16_t>(buf[2 * (y * 320 + x)] << 8 | buf[2 * (y * 320 + x) + 1]);
}

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GPIO_init();
        SPI_init();
        ILI9341_init();  // as start-up does: landscape, BGR
        memset(buf, 0, sizeof buf);
        sim::clearSpiTransfers();
        faults_ = sim::spiSelectFaults();
    }
    void TearDown() override {
        // The driver never talks to the bus without exactly one chip selected.
        EXPECT_EQ(sim::spiSelectFaults(), faults_);
        close(fd_spi);
    }
    uint64_t faults_ = 0;
    // The pixels set to `color` after drawing on a cleared frame.
    static std::vector<std::pair<int, int>> pointsOf(uint16_t color) {
        std::vector<std::pair<int, int>> out;
        for (int y = 0; y < 240; ++y) {
            for (int x = 0; x < 320; ++x) {
                if (pixelAt(x, y) == color) out.emplace_back(x, y);
            }
        }
        return out;
    }
};

TEST_F(PanelTest, LinesAfterInitLeaveBothChipsReleasedAndPenAnInput) {
    EXPECT_NE(sim::gpioRegister(PA_DAT) & (1u << PIN_CS1), 0u);
    EXPECT_NE(sim::gpioRegister(PC_DAT) & (1u << PIN_CS2), 0u);
    EXPECT_EQ((sim::gpioRegister(PA_CFG2) >> 8) & 7, 1u);   // DC output
    EXPECT_EQ((sim::gpioRegister(PA_CFG2) >> 20) & 7, 1u);  // RES output
    EXPECT_EQ((sim::gpioRegister(PC_CFG0) >> 16) & 7, 0u);  // PEN input
    EXPECT_EQ((sim::gpioRegister(PC_PULL0) >> 8) & 3, 1u);  // with pull-up
    EXPECT_EQ(CHECK_PEN_DOWN(), 0);
    sim::touchChip().press(10, 10);
    sim::updatePenLine();
    EXPECT_EQ(CHECK_PEN_DOWN(), 1);
    sim::touchChip().release();
    sim::updatePenLine();
}

TEST_F(PanelTest, TheBusFailsATransferWithNoChipOrBothChipsSelected) {
    const uint8_t byte = 0;
    uint8_t in = 0;
    SELECT_NONE();
    errno = 0;
    EXPECT_EQ(platformSpiWrite(fd_spi, &byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    SET_CS1_Low();
    SET_CS2_Low();
    errno = 0;
    EXPECT_EQ(platformSpiRead(fd_spi, &in, 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sim::spiSelectFaults(), faults_ + 2);
    SELECT_Touch();
    EXPECT_EQ(platformSpiWrite(fd_spi, &byte, 1), 1);
    SELECT_NONE();
    faults_ = sim::spiSelectFaults();
}

TEST_F(PanelTest, PushSendsTheWholeFrameInThirtyEightTransfersAndTheChipShowsIt) {
    for (int i = 0; i < LCD_FRAME_BYTES; ++i) buf[i] = static_cast<uint8_t>(i * 7 + i / 640);
    ILI9341_fillRec1();
    const std::vector<sim::SpiTransfer> t = sim::spiTransfers();
    std::vector<size_t> big;
    for (const auto& x : t) {
        EXPECT_NE(x.chip, '!') << "both chips selected";
        if (x.size > 1) {
            EXPECT_EQ(x.chip, 'L');
            EXPECT_TRUE(x.dc);
            EXPECT_EQ(x.mode, 3);
            big.push_back(x.size);
        }
    }
    // The window: columns 0..320 and rows 0..240, each as four parameter bytes.
    std::vector<uint8_t> singles;
    for (const auto& x : t) {
        if (x.size == 1) singles.push_back(x.first);
    }
    auto window = [&](uint8_t cmd) {
        auto at = std::find(singles.rbegin(), singles.rend(), cmd).base();
        return std::vector<uint8_t>(at, at + 4);
    };
    EXPECT_EQ(window(0x2A), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x40}));
    EXPECT_EQ(window(0x2B), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0xF0}));
    std::vector<size_t> want(37, 4096);
    want.push_back(2048);
    EXPECT_EQ(big, want);
    // Bus back in the touch setting, both selects high.
    uint8_t mode = 9;
    platformSpiIoctl(fd_spi, SPI_IOC_RD_MODE, &mode);
    EXPECT_EQ(mode, 0);
    EXPECT_NE(sim::gpioRegister(PA_DAT) & (1u << PIN_CS1), 0u);

    const std::vector<uint16_t> screen = sim::panelChip().screen();
    for (int y = 0; y < 240; y += 7) {
        for (int x = 0; x < 320; x += 3)
            ASSERT_EQ(screen[y * 320 + x], pixelAt(x, y)) << x << "," << y;
    }
    EXPECT_EQ(screen[239 * 320 + 319], pixelAt(319, 239));
}

TEST_F(PanelTest, LinesCoverBothEndsAndNothingBeyond) {
    drawLineColor(10, 5, 20, 5, 0x1234);
    auto pts = pointsOf(0x1234);
    ASSERT_EQ(pts.size(), 11u);
    EXPECT_EQ(pts.front(), std::make_pair(10, 5));
    EXPECT_EQ(pts.back(), std::make_pair(20, 5));
    memset(buf, 0, sizeof buf);
    drawLineColor(0, 0, 3, 1, 0x1234);
    EXPECT_EQ(pointsOf(0x1234), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
}

TEST_F(PanelTest, PicturePlacementAndFillTouchOnlyTheirRectangle) {
    std::vector<uint8_t> pic(8 + 240 * 160 * 2, 0xAB);
    const uint8_t header[8] = {0x10, 0x10, 0, 240, 0, 160, 0x01, 0x1B};
    memcpy(pic.data(), header, 8);
    drawHalfPic(40, 47, pic.data());
    fillColor(180, 45, 310, 56, 0x5555);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            const bool inFill = x >= 180 && x < 310 && y >= 45 && y < 56;
            const bool inPic = x >= 40 && x < 280 && y >= 47 && y < 207;
            const uint16_t want = inFill ? 0x5555 : inPic ? 0xABAB : 0;
            ASSERT_EQ(pixelAt(x, y), want) << x << "," << y;
        }
    }
    // Placed near the corner, the picture is cut at the frame's edge.
    drawHalfPic(300, 200, pic.data());
    EXPECT_EQ(pixelAt(319, 239), 0xABAB);
}

// The display chip's memory after a stream, whatever the transfers it came
// in: pixel data in bulk lands as it does a byte at a time, in every memory
// orientation and window, runs past the window's end and off the glass
// included.
TEST(Ili9341Model, BulkPixelsLandAsByteByByteOnesDo) {
    using namespace ili9341;
    uint64_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(seed >> 33) % n;
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        sim::Ili9341Model bulk, single;
        for (sim::Ili9341Model* m : {&bulk, &single}) m->reset();
        auto both = [&](bool data, const std::vector<uint8_t>& bytes) {
            bulk.write(data, bytes.data(), bytes.size());
            for (size_t i = 0; i < bytes.size(); ++i) single.write(data, &bytes[i], 1);
        };
        for (int step = 0; step < 6; ++step) {
            const uint8_t madctl =
                static_cast<uint8_t>(next(8) << 5 | (next(2) != 0 ? kMadctlBgr : 0));
            both(false, {kMemoryAccessControl});
            both(true, {madctl});
            for (uint8_t cmd : {kColumnAddressSet, kPageAddressSet}) {
                const uint32_t a = next(340), b = next(340);
                both(false, {cmd});
                both(true, {static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a),
                            static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b)});
            }
            both(false, {next(3) != 0 ? kMemoryWrite : kMemoryWriteContinue});
            std::vector<uint8_t> pixels(next(3000));
            for (uint8_t& p : pixels) p = static_cast<uint8_t>(next(256));
            // In pieces of any size, odd ones splitting a pixel's two bytes.
            for (size_t at = 0; at < pixels.size();) {
                const size_t n = std::min<size_t>(pixels.size() - at, 1 + next(700));
                bulk.write(true, pixels.data() + at, n);
                for (size_t i = at; i < at + n; ++i) single.write(true, &pixels[i], 1);
                at += n;
            }
        }
        ASSERT_EQ(bulk.screen(), single.screen());
        ASSERT_EQ(bulk.pixelsWritten(), single.pixelsWritten());
    }
}

}  // namespace
