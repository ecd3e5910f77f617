// printer-sim from power-on: the demo stick, the first picture, the touch
// calibration, and starting without the frame buffer or the board's port.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/assets/pictures.h"
#include "scenario_fixture.h"

namespace {

using namespace scenario;

// printer-sim as it starts by default: with the demo stick of the build.
class DemoStickScenario : public SimScenario {
  protected:
    void SetUp() override {
        args_.clear();
        SimScenario::SetUp();
    }
};

TEST_F(DemoStickScenario, TheDemoStickIsMountedAndListedAtStart) {
    expectStateWithin("s_isMounted", 1, 2000);
    expectStateWithin("usb_file_count", 5, 2000);
    const json names = get("/api/state")["file_name_list"];
    EXPECT_NE(std::find(names.begin(), names.end(), "齿轮.pvk4k"), names.end()) << names;
    EXPECT_NE(std::find(names.begin(), names.end(), "Velmor4Kprintmaterialtestfile.pvk4k"),
              names.end());
}

std::vector<uint16_t> picturePixels(const unsigned char* picture) {
    const int n = (picture[2] << 8 | picture[3]) * (picture[4] << 8 | picture[5]);
    std::vector<uint16_t> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<uint16_t>(picture[8 + 2 * i] << 8 | picture[9 + 2 * i]);
    return out;
}

class PanelScenario : public SimScenario {
  protected:
    // The panel as the display chip model holds it, back in RGB565.
    std::vector<uint16_t> panelPixels() {
        const std::vector<uint8_t> rgb = pictureRgb("/api/panel.png");
        std::vector<uint16_t> out;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            out.push_back(static_cast<uint16_t>((rgb[i] >> 3) << 11 | (rgb[i + 1] >> 2) << 5 |
                                                rgb[i + 2] >> 3));
        }
        return out;
    }
};

TEST_F(PanelScenario, PanelShowsTheGreyHomePictureAfterStartUp) {
    // The picture is pushed before the fan command goes out.
    traceWhen([](const json& l) { return !l.empty(); });
    EXPECT_EQ(panelPixels(), picturePixels(gImage_homegray));
}

class CalibrationScenario : public PanelScenario {
  protected:
    void SetUp() override {
        args_ = {"--uncalibrated", "--no-stick"};
        PanelScenario::SetUp();
    }
    void touch(int x, int y) {
        const std::string body =
            "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) + ",\"ms\":500}";
        auto res = client_->Post("/api/touch", body, "application/json");
        ASSERT_TRUE(res && res->status == 200);
        run(600);  // held, then lifted for a while between touches
    }
    fs::path calibrationFile() const {
        for (const auto& e : fs::directory_iterator(dir_))
            return e.path() / "opt/Pravik3D/tpAdjustdata.txt";
        return {};
    }
};

TEST_F(CalibrationScenario, FourTargetsCalibrateAndTouchesThenConvertToTheirPixel) {
    // The first target is a red cross-hair at (50, 50) on white.
    std::vector<uint16_t> panel = panelPixels();
    for (int i = 0; i < 500 && (panel.size() != 320u * 240u || panel[50 * 320 + 40] != 0xF800);
         ++i) {
        nap();
        panel = panelPixels();
    }
    ASSERT_EQ(panel.size(), 320u * 240u);
    EXPECT_EQ(panel[50 * 320 + 40], 0xF800);
    EXPECT_EQ(panel[10 * 320 + 10], 0xFFFF);

    // Each target is touched until the next one shows, as a person would on a
    // busy machine; after the last the result screen comes (white there).
    const std::pair<int, int> targets[4] = {{50, 50}, {269, 50}, {50, 189}, {269, 189}};
    for (int t = 0; t < 4; ++t) {
        auto shown = [&] {
            const std::vector<uint16_t> p = panelPixels();
            if (p.size() != 320u * 240u) return false;
            if (t == 3) return p[189 * 320 + 259] == 0xFFFF;
            return p[targets[t + 1].second * 320 + targets[t + 1].first - 10] == 0xF800;
        };
        for (int attempt = 0; attempt < 3 && !shown(); ++attempt) {
            touch(targets[t].first, targets[t].second);
            for (int i = 0; i < 100 && !shown(); ++i) nap();
        }
        ASSERT_TRUE(shown()) << "target " << t;
    }
    EXPECT_FALSE(fs::exists(calibrationFile()));
    for (int attempt = 0; attempt < 3 && !fs::exists(calibrationFile()); ++attempt) {
        touch(160, 120);
        for (int i = 0; i < 500 && !fs::exists(calibrationFile()); ++i) nap();
    }
    std::string text;
    for (int i = 0; i < 100 && text.size() < 20; ++i, nap()) {
        std::ifstream in(calibrationFile(), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    EXPECT_EQ(text.rfind("10\r\n", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 5);

    // Once the main loop runs, a touch converts to its own pixel.
    for (int i = 0; i < 1500 && get("/api/state")["main_loop_passes"] == 0; ++i) nap();
    for (auto [x, y] : {std::pair{30, 200}, {300, 20}, {160, 120}}) {
        touch(x, y);
        json p;
        for (int i = 0; i < 300; ++i, nap()) {
            p = get("/api/state")["tp_pixlcd"];
            if (std::abs(p["x"].get<int>() - x) <= 2 && std::abs(p["y"].get<int>() - y) <= 2) break;
        }
        EXPECT_NEAR(p["x"].get<int>(), x, 2);
        EXPECT_NEAR(p["y"].get<int>(), y, 2);
    }
}

}  // namespace

namespace {

using namespace scenario;

class StartupFaultScenario : public PanelScenario {
  protected:
    void SetUp() override {}  // each test starts its own
    void launchWith(const char* fault) {
        args_ = {"--no-stick", fault};
        PanelScenario::SetUp();
    }
};

TEST_F(StartupFaultScenario, WithoutTheFrameBufferTheFirmwareHaltsOnItsDriveBoardError) {
    ASSERT_NO_FATAL_FAILURE(launchWith("--no-fb"));
    const json s = run(3000);
    EXPECT_EQ(s["main_loop_passes"], 0);
    EXPECT_TRUE(get("/api/trace")["lines"].empty()) << "nothing is sent to the board";
    // Why it halted reaches the log, although the firmware ends the line
    // without its line feed, a second of quiet after it was written.
    const json log = get("/api/log")["lines"];
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back()["text"], "Error : Can not open /dev/fb0/n");
    EXPECT_GE(log.back()["t"].get<int64_t>(), 1000);
    // The error picture at (40, 40) on the panel.
    const std::vector<uint16_t> panel = panelPixels(),
                                error = picturePixels(gImage_driveboarderror);
    ASSERT_EQ(panel.size(), 320u * 240);
    size_t differ = 0;
    for (size_t y = 0; y < 160; ++y) {
        for (size_t x = 0; x < 240; ++x)
            differ += panel[(40 + y) * 320 + 40 + x] != error[y * 240 + x];
    }
    EXPECT_EQ(differ, 0u);
}

TEST_F(StartupFaultScenario, WithoutTheControllerPortTheFirmwareRunsOnWithoutItsBoard) {
    ASSERT_NO_FATAL_FAILURE(launchWith("--no-serial"));
    const json s = run(3000);
    EXPECT_GT(s["main_loop_passes"].get<int>(), 50);
    EXPECT_FALSE(s["serial_port_open"].get<bool>());
    EXPECT_EQ(get("/api/board")["lines_received"], 0);
    const json lines = get("/api/log")["lines"];
    bool logged = false;
    for (const json& l : lines) {
        logged |= l["text"].get<std::string>().rfind("Open Port Error:unable to open /dev/ttyS1: ",
                                                     0) == 0;
    }
    EXPECT_TRUE(logged);
}

}  // namespace
