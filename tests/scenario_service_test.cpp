// The printing window and the service windows driven by touches alone: pause,
// resume and end of a print, the over-temperature pause, errors ended by
// hand, the job's figures at layer 50, the Z moves, the light test and the
// intensity window. Checked against the G-code trace, the board model, the
// panel and the mask.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "assets/ascii_fonts.h"
#include "assets/pictures.h"
#include "print/print.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"
#include "ui/picture_records.h"
#include "ui/ui.h"

namespace {

using namespace scenario;

using Pixels = std::vector<uint16_t>;

struct Point {
    int x, y;
};

Point mid(const PicRecord& r) {
    return {(r.x_start + r.x_end) / 2, (r.y_start + r.y_end) / 2};
}

// The light windows' buttons, which have no records.
constexpr Point kOnOff{160, 185};
constexpr Point kPattern{242, 183};
constexpr Point kIntensityCorner{300, 20};
constexpr Point kLightBack{243, 113};
constexpr Point kGlowPlus{100, 55};
constexpr Point kGlowMinus{100, 140};
constexpr Point kGlowSave{300, 220};

constexpr uint16_t kInk = 0xFC04;
constexpr uint16_t kBarBack = 0x0022;
constexpr size_t kPanelPixels = 320 * 240;

Pixels picturePixels(const unsigned char* p) {
    const int n = (p[2] << 8 | p[3]) * (p[4] << 8 | p[5]);
    Pixels out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint16_t>(p[8 + 2 * i] << 8 | p[9 + 2 * i]);
    return out;
}

// The picture drawn with its top-left corner at (x, y) is what the frame shows there.
bool shows(const Pixels& frame, const unsigned char* p, int x, int y) {
    if (frame.size() != kPanelPixels) return false;
    const int w = p[2] << 8 | p[3], h = p[4] << 8 | p[5];
    const Pixels pic = picturePixels(p);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            if (frame[(y + r) * 320 + x + c] != pic[r * w + c]) return false;
        }
    }
    return true;
}

// The text drawn in 8 x 16 cells from (x, y) over `back`: each cell read as
// the glyph it shows in the figures' colour, '?' where none fits; trailing
// blanks dropped.
std::string readText(const Pixels& frame, const Pixels& back, int x, int y, int cells) {
    if (frame.size() != kPanelPixels || back.size() != kPanelPixels) return "<no frame>";
    std::string out;
    for (int i = 0; i < cells; ++i) {
        const int cx = x + 8 * i;
        char found = '?';
        for (int code = ' '; code <= '~' && found == '?'; ++code) {
            const unsigned char* glyph = a18sc2_16081 + (code - ' ') * 16;
            bool fits = true;
            for (int r = 0; r < 16 && fits; ++r) {
                for (int c = 0; c < 8 && fits; ++c) {
                    const size_t at = static_cast<size_t>(y + r) * 320 + cx + c;
                    fits = frame[at] == ((glyph[r] >> c & 1) != 0 ? kInk : back[at]);
                }
            }
            if (fits) found = static_cast<char>(code);
        }
        out += found;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string countDown(uint32_t total_s, uint32_t elapsed_s) {
    const uint32_t left = elapsed_s <= total_s ? (total_s - elapsed_s) / 60 : 0;
    char text[32];
    snprintf(text, sizeof text, "%u H %u M", left / 60, left % 60);
    return text;
}

std::vector<uint8_t> decodeRgb(const std::string& png, int& w, int& h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    return rgb;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// printer-sim with a stick folder the fixture fills before it starts (or
// none); driven by touches in the middle of their targets.
class ServiceScenario : public SimScenario {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "stick-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        stick_ = templ;
        fs::create_directories(stick_ / "pravik3d");
        const int files = fillStick();
        if (files > 0) args_ = {"--stick", stick_.string()};
        SimScenario::SetUp();
        if (HasFatalFailure()) return;
        if (files > 0) {
            ASSERT_TRUE(awaitState("s_isMounted", 1, 200));
            ASSERT_TRUE(awaitState("usb_file_count", files, 200));
            passes(2);  // the names are read in the pass that counted them
        }
        // Start-up's lines are through: what follows is the test's own.
        traceWhen([](const json& l) {
            return std::any_of(l.begin(), l.end(), [](const json& x) {
                return x["text"].get<std::string>().rfind("M108 ", 0) == 0;
            });
        });
    }
    void TearDown() override {
        SimScenario::TearDown();
        std::error_code ec;
        fs::remove_all(stick_, ec);
    }

    // Fills the stick folder; the number of print files, 0 to start without a stick.
    virtual int fillStick() { return 0; }
    void put(const std::string& name, const std::string& bytes) {
        std::ofstream(stick_ / "pravik3d" / name, std::ios::binary) << bytes;
    }

    json state() { return get("/api/state"); }
    int window() { return state()["current_window_ID"]; }
    int layer() { return state()["current_layer"]; }
    uint64_t mark() { return get("/api/trace")["next"]; }

    uint64_t passCount() { return state()["main_loop_passes"]; }
    // Waits (real time capped) until `n` more main-loop passes have run.
    void passes(int n) {
        const uint64_t from = passCount();
        for (int i = 0; i < 20000 && passCount() < from + n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
    // `field` of the state reads `want` within `budget` main-loop passes:
    // counted in passes, a loaded machine only makes the wait longer.
    bool awaitState(const char* field, int want, int budget) {
        const uint64_t from = passCount();
        for (int i = 0; i < 20000; ++i, nap()) {
            const json s = state();
            if (s[field] == want) return true;
            if (s["main_loop_passes"].get<uint64_t>() > from + budget) break;
        }
        ADD_FAILURE() << field << " is " << state()[field] << ", not " << want;
        return false;
    }

    // One press: the pen held until a whole pass has seen it, then lifted
    // until one has seen that, however slow the passes are.
    void touch(Point p) {
        auto res = client_->Post("/api/pen", json{{"down", true}, {"x", p.x}, {"y", p.y}}.dump(),
                                 "application/json");
        ASSERT_TRUE(res && res->status == 200) << p.x << "," << p.y;
        passes(2);
        res = client_->Post("/api/pen", json{{"down", false}}.dump(), "application/json");
        ASSERT_TRUE(res && res->status == 200);
        passes(2);
    }

    // The window drawn within `budget` passes: a touch's within a few, the
    // printing window's way home within its next redraw.
    void awaitWindow(int id, int budget = 20) {
        ASSERT_TRUE(awaitState("current_window_ID", id, budget));
        ASSERT_TRUE(awaitState("change_window", 0, budget));
    }
    void awaitStatus(int status) {
        for (int i = 0; i < 6000; ++i, nap()) {
            if (state()["print_status"] == status) return;
        }
        FAIL() << "print status never became " << status << ", it is " << state()["print_status"];
    }
    void awaitLayer(int n) {
        for (int i = 0; i < 6000; ++i, nap()) {
            if (layer() >= n) return;
        }
        FAIL() << "layer " << n << " never reached";
    }

    // What was sent from `since` on, the status polls left out.
    std::vector<std::string> sent(uint64_t since) {
        std::vector<std::string> out;
        const json trace = get("/api/trace?since=" + std::to_string(since));
        for (const json& l : trace["lines"]) {
            if (l["dir"] == "tx" && l["text"] != "M105") out.push_back(l["text"]);
        }
        return out;
    }

    Pixels panel() {
        auto res = client_->Get("/api/panel.png");
        Pixels out;
        int w = 0, h = 0;
        const std::vector<uint8_t> rgb = res ? decodeRgb(res->body, w, h) : std::vector<uint8_t>{};
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            out.push_back(static_cast<uint16_t>((rgb[i] >> 3) << 11 | (rgb[i + 1] >> 2) << 5 |
                                                rgb[i + 2] >> 3));
        }
        return out;
    }
    // True once the panel passes `check`, within three redraws.
    bool awaitPanel(const std::function<bool(const Pixels&)>& check) {
        const uint64_t from = passCount();
        for (int i = 0; i < 20000; ++i, nap()) {
            if (check(panel())) return true;
            if (passCount() > from + 150) break;
        }
        return false;
    }
    bool awaitPicture(const unsigned char* p, int x, int y) {
        return awaitPanel([&](const Pixels& f) { return shows(f, p, x, y); });
    }

    // The mask at 1/16: lit blocks are those the white test rectangle
    // (columns 301..1859, lines 301..3539) reaches, or none at all.
    testing::AssertionResult maskShows(bool rectangle) {
        auto res = client_->Get("/api/mask.png?scale=16");
        if (!res || res->status != 200) return testing::AssertionFailure() << "no mask";
        int w = 0, h = 0;
        const std::vector<uint8_t> rgb = decodeRgb(res->body, w, h);
        if (w != 135 || h != 240) return testing::AssertionFailure() << w << "x" << h;
        long wrong = 0;
        for (int by = 0; by < h; ++by) {
            for (int bx = 0; bx < w; ++bx) {
                const bool lit = rectangle && 16 * bx + 15 >= 301 && 16 * bx <= 1859 &&
                                 16 * by + 15 >= 301 && 16 * by <= 3539;
                for (int k = 0; k < 3; ++k) wrong += rgb[(by * w + bx) * 3 + k] != (lit ? 255 : 0);
            }
        }
        if (wrong != 0) return testing::AssertionFailure() << wrong << " mask values differ";
        return testing::AssertionSuccess();
    }
    bool lightHeader() {
        auto res = client_->Get("/api/mask.png?scale=64");
        return res && res->get_header_value("X-Light-On") == "1";
    }

    // A settings file in the sandbox printer-sim made for itself.
    std::string sandboxFile(const std::string& tail) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir_, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string p = it->path().generic_string();
            if (p.size() >= tail.size() &&
                p.compare(p.size() - tail.size(), tail.size(), tail) == 0)
                return readFile(it->path());
        }
        return "<missing>";
    }

    // Home, the browser, two taps on the file's row, start, yes.
    void startPrint(const std::string& name) {
        static const PicRecord* const rows[5] = {
            &pic_filepagebuttonchoosefile1, &pic_filepagebuttonchoosefile2,
            &pic_filepagebuttonchoosefile3, &pic_filepagebuttonchoosefile4,
            &pic_filepagebuttonchoosefile5};
        const auto list = state()["file_name_list"].get<std::vector<std::string>>();
        const size_t row = std::find(list.begin(), list.end(), name) - list.begin();
        ASSERT_LT(row, 5u) << name;
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME, 120));
        touch(mid(pic_homepagebuttonfile));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        touch(mid(*rows[row]));
        touch(mid(*rows[row]));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
        touch(mid(pic_previewpagebuttonstart));
        touch(mid(pic_ledpagedialogyes));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    }

    const Point kPause = mid(pic_printpagebuttonpause);
    const Point kEnd = mid(pic_printpagebuttonend);
    const Point kCancelYes = mid(pic_buttonprintcancelyes);
    const Point kCancelNo = mid(pic_buttonprintcancelno);
    const Point kYes = mid(pic_ledpagedialogyes);
    const Point kNo = mid(pic_ledpagedialogno);
    const Pixels printBack = picturePixels(gImage_print);
    fs::path stick_;
};

const std::vector<std::string> kRaise = {"M220", "G91", "G0 Z40 F300", "M227"};

// A long job, a short one and one whose second record is empty.
class ServicePrint : public ServiceScenario {
  protected:
    int fillStick() override {
        speed_ = "10";
        put("job.pvk4k", PrintFileBuilder::quick(30).bytes());
        put("short.pvk4k", PrintFileBuilder::quick(6).bytes());
        PrintFileBuilder bad = PrintFileBuilder::quick(3);
        bad.layers[1] = {};
        put("bad.pvk4k", bad.bytes());
        return 3;
    }
};

TEST_F(ServicePrint, PauseHoldsTheLiftedJobResumeGoesOnAndEndRaisesItWithoutADrop) {
    ASSERT_NO_FATAL_FAILURE(startPrint("job.pvk4k"));
    ASSERT_NO_FATAL_FAILURE(awaitLayer(2));
    touch(kPause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_PAUSED));
    const int held = layer();
    // Paused once the layer's lift is done; the light off.
    json board = get("/api/board");
    EXPECT_NEAR(board["z_target"].get<double>(), held * 0.05 + 2, 1e-3);
    EXPECT_NEAR(board["z"].get<double>(), board["z_target"].get<double>(), 1e-3);
    EXPECT_FALSE(board["light"].get<bool>());
    EXPECT_TRUE(awaitPanel(
        [&](const Pixels& f) { return readText(f, printBack, 230, 204, 8) == "Paused"; }));
    // Nothing but status polls for over a second.
    const uint64_t paused = mark();
    passes(60);
    EXPECT_GE(sentAt(get("/api/trace?since=" + std::to_string(paused))["lines"], "M105").size(),
              3u);
    EXPECT_EQ(sent(paused), std::vector<std::string>{});
    EXPECT_EQ(layer(), held);

    touch(kPause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_RUNNING));
    ASSERT_NO_FATAL_FAILURE(awaitLayer(held + 1));
    EXPECT_TRUE(awaitPanel(
        [&](const Pixels& f) { return readText(f, printBack, 230, 204, 9) == "Printing."; }));

    // No in the end dialog: the job goes on.
    touch(kEnd);
    EXPECT_TRUE(shows(panel(), gImage_printpagecanceldialog, 40, 40));
    touch(kCancelNo);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    EXPECT_FALSE(shows(panel(), gImage_printpagecanceldialog, 40, 40));
    EXPECT_NE(state()["current_button"].get<int>(), +rOPER_CANCEL);

    // Yes: the layer under way ends with its lift, then the 40 mm raise.
    touch(kEnd);
    EXPECT_TRUE(shows(panel(), gImage_printpagecanceldialog, 40, 40));
    const uint64_t cancel = mark();
    touch(kCancelYes);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_CANCELED));
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
    const std::vector<std::string> lines = sent(cancel);
    ASSERT_GE(lines.size(), kRaise.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), kRaise);
    const auto lift = std::find(lines.rbegin(), lines.rend(), "G1 Z1.050000 F300.000000");
    EXPECT_TRUE(std::none_of(lines.rbegin(), lift, [](const std::string& l) {
        return l.rfind("G1 Z-", 0) == 0;
    })) << testing::PrintToString(lines);
    board = get("/api/board");
    EXPECT_NEAR(board["z_target"].get<double>(), layer() * 0.05 + 2 + 40, 1e-3);
    EXPECT_FALSE(board["light"].get<bool>());
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME, 120));
    EXPECT_EQ(state()["current_button"].get<int>(), +rOPER_NONE);
}

TEST_F(ServicePrint, AHotLightPanelPausesTheJobAndItResumesByItselfOnceCool) {
    const uint64_t start = mark();
    ASSERT_NO_FATAL_FAILURE(startPrint("short.pvk4k"));
    ASSERT_NO_FATAL_FAILURE(awaitLayer(2));
    ASSERT_EQ(post(R"({"temperature":60})"), 200);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_TEMP_PAUSED));
    const int held = layer();
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());
    EXPECT_TRUE(awaitPicture(gImage_printhightemperror1, 40, 50));
    // Held while hot: no exposure, no motion.
    const uint64_t hot = mark();
    passes(60);
    for (const std::string& l : sent(hot)) EXPECT_TRUE(l != "M219" && l[0] != 'G') << l;
    EXPECT_EQ(layer(), held);
    EXPECT_EQ(state()["print_status"], PRINT_TEMP_PAUSED);

    // Cool again: the window asks for the resume itself, within a poll and a redraw.
    ASSERT_EQ(post(R"({"temperature":40})"), 200);
    ASSERT_TRUE(awaitState("print_status", PRINT_RUNNING, 200));
    EXPECT_TRUE(awaitPanel([](const Pixels& f) {
        return f.size() == kPanelPixels && !shows(f, gImage_printhightemperror1, 40, 50);
    }));
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME, 120));
    const json lines = get("/api/trace?since=" + std::to_string(start))["lines"];
    EXPECT_EQ(sentAt(lines, "M219").size(), 6u) << "every layer exposed once";
    EXPECT_EQ(layer(), 6);
}

TEST_F(ServicePrint, DataAndTemperatureErrorsWaitForTheEndButton) {
    ASSERT_NO_FATAL_FAILURE(startPrint("bad.pvk4k"));
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_DATA_ERROR));
    EXPECT_EQ(layer(), 1);  // the second record is refused
    EXPECT_TRUE(awaitPicture(gImage_printpagefiledataerror, 40, 40));
    passes(60);
    EXPECT_EQ(state()["print_status"], PRINT_DATA_ERROR) << "the error holds until ended";
    uint64_t cancel = mark();
    touch(kEnd);
    EXPECT_TRUE(shows(panel(), gImage_printpagecanceldialog, 40, 40));
    touch(kCancelYes);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
    EXPECT_EQ(sent(cancel), kRaise);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME, 120));

    ASSERT_NO_FATAL_FAILURE(startPrint("job.pvk4k"));
    ASSERT_NO_FATAL_FAILURE(awaitLayer(2));
    ASSERT_EQ(post(R"({"temperature":101})"), 200);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_TEMP_ERROR));
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());
    EXPECT_TRUE(awaitPicture(gImage_printerrortemp, 40, 40));
    cancel = mark();
    touch(kEnd);
    EXPECT_TRUE(shows(panel(), gImage_printpagecanceldialog, 40, 40));
    touch(kCancelYes);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
    const std::vector<std::string> lines = sent(cancel);
    ASSERT_GE(lines.size(), kRaise.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), kRaise);
    EXPECT_EQ(sentAt(get("/api/trace?since=" + std::to_string(cancel))["lines"], "M219").size(),
              0u);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME, 120));
}

// 200 layers: 49 quick bottom layers, then long ones. Layer 50 is the first
// long one, so a pause lands on it; and the measured total from there on is
// far below the estimate.
class ServiceFigures : public ServiceScenario {
  protected:
    int fillStick() override {
        speed_ = "10";
        PrintFileBuilder f = PrintFileBuilder::quick(200);
        f.p.burnin_range = 2.475f;  // 49.5 bottom layers
        f.p.b_stable_time = 100;
        f.p.burnin_time = 100;
        f.p.stable_time = 100;
        f.p.curing_time = 4000;
        f.p.lift_speed1 = 600;
        f.p.lift_speed2 = 600;
        f.p.drop_speed = 600;
        put("tall.pvk4k", f.bytes());
        return 1;
    }

    // The bar's row at y 50: lit to x 180 + `filled`, dark to its right edge.
    static testing::AssertionResult barFilled(const Pixels& f, int filled) {
        if (f.size() != kPanelPixels) return testing::AssertionFailure() << "no frame";
        for (int x = 180; x <= 310; ++x) {
            const uint16_t want = x < 180 + filled || x == 310 ? kInk : kBarBack;
            if (f[50 * 320 + x] != want) return testing::AssertionFailure() << "x " << x;
        }
        return testing::AssertionSuccess();
    }
    // The count-up in seconds, or -1.
    int countUp(const Pixels& f) {
        int h = 0, m = 0, s = 0;
        const std::string text = readText(f, printBack, 230, 72, 8);
        if (text.size() != 8 || sscanf(text.c_str(), "%2d:%2d:%2d", &h, &m, &s) != 3) return -1;
        return h * 3600 + m * 60 + s;
    }
    std::string percent(const Pixels& f) { return readText(f, printBack, 274, 26, 4); }
    std::string layers(const Pixels& f) { return readText(f, printBack, 230, 138, 8); }
    std::string remaining(const Pixels& f) { return readText(f, printBack, 230, 105, 10); }
};

TEST_F(ServiceFigures, AtLayerFiftyTheBarIsAQuarterAndTheCountDownUsesTheMeasuredTime) {
    ASSERT_NO_FATAL_FAILURE(startPrint("tall.pvk4k"));
    const uint32_t estimate_s = state()["print_times"].get<uint32_t>() / 1000;

    // Paused among the quick layers: the count-down is the estimate less the
    // time so far, and the count-up stands still.
    ASSERT_NO_FATAL_FAILURE(awaitLayer(30));
    touch(kPause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_PAUSED));
    const int early = layer();
    ASSERT_LT(early, 50);
    passes(110);  // two redraws of the paused job
    Pixels f = panel();
    EXPECT_EQ(percent(f), std::to_string(early / 2) + "%");
    EXPECT_TRUE(barFilled(f, early / 2 * 130 / 100));
    EXPECT_EQ(layers(f), std::to_string(early) + "/200");
    const int before = countUp(f);
    ASSERT_GT(before, 0) << readText(f, printBack, 230, 72, 8);
    EXPECT_EQ(remaining(f), countDown(estimate_s, before));
    passes(250);
    EXPECT_EQ(countUp(panel()), before) << "the count-up runs while paused";

    // Resumed, and paused again within layer 50's long exposure.
    const int64_t resumed = state()["sim_time_ms"];
    touch(kPause);
    for (int i = 0; i < 40000 && layer() < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    touch(kPause);
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_PAUSED));
    ASSERT_EQ(layer(), 50) << "the pause came a layer late";
    const int64_t ran_ms = state()["sim_time_ms"].get<int64_t>() - resumed;
    passes(110);

    // A quarter: 32 of the bar's 130 pixels. The total is now four times the
    // time so far, as it stood at the first redraw of layer 50.
    f = panel();
    EXPECT_EQ(percent(f), "25%");
    EXPECT_TRUE(barFilled(f, 32));
    EXPECT_EQ(layers(f), "50/200");
    const int now = countUp(f);
    ASSERT_GE(now, before) << readText(f, printBack, 230, 72, 8);
    EXPECT_NEAR(now - before, ran_ms / 1000.0, 3) << "the pause is not left out";
    std::set<std::string> measured;
    for (int at = before; at <= now; ++at) measured.insert(countDown(4 * at, now));
    ASSERT_EQ(measured.count(countDown(estimate_s, now)), 0u) << "the job cannot tell them apart";
    const std::string shown = remaining(f);
    EXPECT_EQ(measured.count(shown), 1u) << shown << " not in " << testing::PrintToString(measured)
                                         << "; by the estimate " << countDown(estimate_s, now);
}

// No stick: the settings, the Z moves and the light test.
class ServiceWindows : public ServiceScenario {
  protected:
    int fillStick() override {
        speed_ = "10";
        return 0;
    }
};

TEST_F(ServiceWindows, ZMovesByEachStepStopAndZeroAndHomingAfterYes) {
    touch(mid(pic_homepagebuttonsetting));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(mid(pic_settingpagebuttonmove));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_MOVE));
    const Point up = mid(pic_movepagebuttonup), down = mid(pic_movepagebuttondown),
                step = mid(pic_movepagebuttondistance);
    const uint64_t since = mark();
    touch(up);
    touch(step);
    EXPECT_TRUE(shows(panel(), gImage_movepagedistance50, 210, 70));
    touch(up);
    touch(step);
    EXPECT_TRUE(shows(panel(), gImage_movepagedistance1, 210, 70));
    touch(down);
    touch(step);
    EXPECT_TRUE(shows(panel(), gImage_movepagedistance10, 210, 70));
    touch(down);
    EXPECT_EQ(sent(since), (std::vector<std::string>{"M229", "G91", "G0 Z10 F1000", "G90",  //
                                                     "M229", "G91", "G0 Z50 F1000", "G90",  //
                                                     "M229", "G91", "G0 Z-1 F1000", "G90",  //
                                                     "M229", "G91", "G0 Z-10 F1000", "G90"}));
    EXPECT_NEAR(get("/api/board")["z_target"].get<double>(), 49, 1e-3);

    // Stop: the position is set to zero, no homing.
    uint64_t from = mark();
    touch(mid(pic_movepagebuttonstopmove));
    EXPECT_EQ(sent(from), (std::vector<std::string>{"M228", "G92 Z0"}));
    json board = get("/api/board");
    EXPECT_NEAR(board["z_target"].get<double>(), 0, 1e-3);
    EXPECT_FALSE(board["homed"].get<bool>());

    // Home asks first: no sends nothing, yes homes.
    from = mark();
    touch(mid(pic_movepagebuttonmovehome));
    EXPECT_TRUE(shows(panel(), gImage_detailpageprintdialog, 40, 40));
    touch(kNo);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_MOVE));
    EXPECT_TRUE(sent(from).empty());
    touch(mid(pic_movepagebuttonmovehome));
    touch(kYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_MOVE));
    EXPECT_EQ(sent(from), (std::vector<std::string>{"M229", "G28 Z0"}));
    EXPECT_TRUE(get("/api/board")["homed"].get<bool>());

    // The step starts at 10 again each time the window opens.
    touch(step);
    from = mark();
    touch(mid(pic_movepagebuttonmovepagereturn));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(mid(pic_settingpagebuttonmove));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_MOVE));
    touch(up);
    EXPECT_EQ(sent(from), (std::vector<std::string>{"M229", "M229", "G91", "G0 Z10 F1000", "G90"}));
}

TEST_F(ServiceWindows, TheLightTestLightsTheMaskAndItsDialogSetsTheIntensity) {
    touch(mid(pic_homepagebuttonsetting));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(mid(pic_settingpagebuttonled));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    const uint64_t since = mark();

    // Unlit, the intensity corner does nothing; no in the dialog keeps it dark.
    touch(kIntensityCorner);
    EXPECT_EQ(window(), +INDEX_WINDOW_LED);
    touch(kOnOff);
    EXPECT_TRUE(shows(panel(), gImage_ledpageturnondialog, 40, 40));
    touch(kNo);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    EXPECT_FALSE(lightHeader());
    EXPECT_TRUE(maskShows(false));

    // Yes: the white rectangle at the stored intensity.
    touch(kOnOff);
    touch(kYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    EXPECT_TRUE(maskShows(true));
    EXPECT_TRUE(lightHeader());
    EXPECT_EQ(get("/api/board")["intensity"], 250);

    // Black pattern: the mask dark, the light still on, no intensity dialog.
    touch(kPattern);
    EXPECT_TRUE(maskShows(false));
    EXPECT_TRUE(lightHeader());
    touch(kIntensityCorner);
    EXPECT_EQ(window(), +INDEX_WINDOW_LED);
    touch(kPattern);
    EXPECT_TRUE(maskShows(true));

    // The dialog: held at the top, steps down, cancel restores.
    touch(kIntensityCorner);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LEDPWM1));
    touch(mid(pic_parameterbuttonbigup));
    touch(mid(pic_parameterbuttonsmalldown));
    touch(mid(pic_parameterbuttonbigdown));
    EXPECT_EQ(get("/api/board")["intensity"], 195);
    touch(mid(pic_parameterbuttoncancel));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    EXPECT_EQ(get("/api/board")["intensity"], 250);
    EXPECT_TRUE(maskShows(true));

    // Ok keeps the value for this session and in the volatile setting.
    touch(kIntensityCorner);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LEDPWM1));
    touch(mid(pic_parameterbuttonsmalldown));
    touch(mid(pic_parameterbuttonok));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    EXPECT_EQ(sandboxFile("var/ledpwm.txt"), "245\r\n");

    // Back: the light off, the mask blank; lit again, at the kept value.
    touch(kLightBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    EXPECT_TRUE(maskShows(false));
    EXPECT_FALSE(lightHeader());
    touch(mid(pic_settingpagebuttonled));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    touch(kOnOff);
    touch(kYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    touch(kLightBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    EXPECT_EQ(sent(since),
              (std::vector<std::string>{"M220", "M106 S250", "M106 S250", "M106 S245", "M106 S195",
                                        "M106 S250", "M106 S245", "M220", "M106 S245", "M220"}));
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());
    EXPECT_TRUE(maskShows(false));
}

// The intensity window's trigger file, with any content.
class ServiceGlow : public ServiceScenario {
  protected:
    int fillStick() override {
        speed_ = "10";
        put("Velmor4KGlowSetTrial7.pvk4k", "glow");
        return 1;
    }
    void openGlow() {
        touch(mid(pic_homepagebuttonfile));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        touch(mid(pic_filepagebuttonchoosefile1));
        touch(mid(pic_filepagebuttonchoosefile1));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LEDPWM));
    }
    void lightOn(int window) {
        touch(kOnOff);
        EXPECT_TRUE(shows(panel(), gImage_ledpageturnondialog, 40, 40));
        touch(kYes);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(window));
        EXPECT_TRUE(maskShows(true));
    }
};

TEST_F(ServiceGlow, PlusAndMinusWrapAndSaveHandsTheValueToTheBoard) {
    ASSERT_NO_FATAL_FAILURE(openGlow());
    const uint64_t since = mark();
    touch(kGlowPlus);  // unlit: nothing
    ASSERT_NO_FATAL_FAILURE(lightOn(INDEX_WINDOW_LEDPWM));
    for (Point p :
         {kGlowPlus, kGlowPlus, kGlowMinus, kGlowMinus, kGlowMinus, kGlowPlus, kGlowMinus})
        touch(p);
    EXPECT_EQ(get("/api/board")["intensity"], 245);
    EXPECT_EQ(get("/api/board")["stored_intensity"], 250);

    touch(kGlowSave);
    EXPECT_EQ(sandboxFile("Pravik3D/ledpwm.txt"), "10\r\n20\r\n30\r\n245\r\n");
    EXPECT_EQ(get("/api/board")["stored_intensity"], 245);
    touch(kLightBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));
    EXPECT_EQ(sent(since), (std::vector<std::string>{"M106 S250", "M106 S0", "M106 S5", "M106 S0",
                                                     "M106 S250", "M106 S245", "M106 S250",
                                                     "M106 S245", "M108 S245", "M220"}));
    EXPECT_FALSE(get("/api/board")["light"].get<bool>());
    EXPECT_TRUE(maskShows(false));
}

TEST_F(ServiceGlow, TheSessionSettingStillWinsAfterTheAdjustmentWindowSaves) {
    // The light test's dialog keeps 200 for the session.
    touch(mid(pic_homepagebuttonsetting));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(mid(pic_settingpagebuttonled));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    ASSERT_NO_FATAL_FAILURE(lightOn(INDEX_WINDOW_LED));
    touch(kIntensityCorner);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LEDPWM1));
    touch(mid(pic_parameterbuttonbigdown));
    touch(mid(pic_parameterbuttonok));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_LED));
    touch(kLightBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(mid(pic_settingpagebuttonsettingpageback));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));

    // The intensity window starts from it; 205 saved.
    ASSERT_NO_FATAL_FAILURE(openGlow());
    const uint64_t since = mark();
    ASSERT_NO_FATAL_FAILURE(lightOn(INDEX_WINDOW_LEDPWM));
    touch(kGlowPlus);
    touch(kGlowSave);
    EXPECT_EQ(sandboxFile("Pravik3D/ledpwm.txt"), "10\r\n20\r\n30\r\n205\r\n");
    // The value for the board is read back through the stored settings, where
    // the session's setting (200) comes before the persistent file until
    // power-off.
    EXPECT_EQ(sent(since), (std::vector<std::string>{"M106 S200", "M106 S205", "M108 S200"}));
    EXPECT_EQ(get("/api/board")["stored_intensity"], 200);
}

}  // namespace
