// The windows driven by touches alone, as a tester at the panel would: the
// browser, the preview, the parameter windows, a print, and the refusals on
// the way. Checked against the window state, the panel, the G-code trace,
// the log and the files on the stick.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

#include "app/global_data.h"
#include "assets/pictures.h"
#include "print/print.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"
#include "ui/ui.h"

namespace {

using namespace scenario;

using Pixels = std::vector<uint16_t>;

struct Point {
    int x, y;
};
struct Rect {
    int x, y, w, h;
};

// Middles of the buttons as the pictures show them.
constexpr Point kHomeFile{108, 123};
constexpr Point kHomeSettings{222, 124};
constexpr Point kSettingsBack{220, 180};
constexpr Point kSettingsMore{91, 180};
constexpr Point kAboutMore{295, 25};
constexpr Point kAboutReturn{160, 203};
constexpr Point kPrevPage{277, 41};
constexpr Point kNextPage{277, 123};
constexpr Point kFirstPage{277, 149};
constexpr Point kRow[5] = {{134, 65}, {134, 100}, {134, 134}, {134, 163}, {134, 204}};
constexpr Point kStart{212, 197};
constexpr Point kBack{282, 197};
constexpr Point kMore{300, 20};
constexpr Point kDialogYes{110, 160};
constexpr Point kCuringRow{75, 78};
constexpr Point kApply{159, 225};
constexpr Point kSave{257, 225};
constexpr Point kListReturn{295, 25};
constexpr Point kBigUp{82, 85};
constexpr Point kBigDown{82, 135};
constexpr Point kSmallUp{237, 85};
constexpr Point kEditOk{122, 180};
constexpr Point kConfirmYes{107, 158};

// Where the windows draw their figures.
constexpr Rect kPageNumber{113, 219, 46, 16};
constexpr Rect kListArea{34, 61, 206, 149};
constexpr Rect kThumbnail{20, 60, 120, 80};
constexpr Rect kPreviewTexts[] = {
    {20, 40, 280, 16},    // name
    {200, 66, 100, 16},   // size
    {200, 104, 100, 16},  // date
    {200, 142, 100, 16},  // estimate
};
constexpr Rect kBottomBar{0, 212, 320, 28};
constexpr Rect kCuringValue{80, 68, 60, 16};
constexpr uint16_t kHighlight = 0xFC04;

constexpr Rect rowBand(int j) {
    return {34, 61 + 33 * j, 206, 17};
}

Pixels cut(const Pixels& frame, Rect r) {
    Pixels out;
    if (frame.size() != 320u * 240u) return out;
    for (int y = r.y; y < r.y + r.h; ++y) {
        for (int x = r.x; x < r.x + r.w; ++x)
            out.push_back(frame[static_cast<size_t>(y) * 320 + x]);
    }
    return out;
}

int pictureWidth(const unsigned char* p) {
    return p[2] << 8 | p[3];
}
int pictureHeight(const unsigned char* p) {
    return p[4] << 8 | p[5];
}

Pixels picturePixels(const unsigned char* p) {
    const int n = pictureWidth(p) * pictureHeight(p);
    Pixels out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint16_t>(p[8 + 2 * i] << 8 | p[9 + 2 * i]);
    return out;
}

// A region of a full-screen picture, as the window shows it with nothing drawn on it.
Pixels plain(const unsigned char* full, Rect r) {
    return cut(picturePixels(full), r);
}

// The picture drawn with its top-left corner at (x, y) is what the frame shows there.
bool shows(const Pixels& frame, const unsigned char* p, int x, int y) {
    return cut(frame, {x, y, pictureWidth(p), pictureHeight(p)}) == picturePixels(p);
}

Point middleOf(const unsigned char* p, int x, int y) {
    return {x + pictureWidth(p) / 2, y + pictureHeight(p) / 2};
}

// Equal pixels, or how many differ.
testing::AssertionResult same(const Pixels& a, const Pixels& b) {
    if (a.size() != b.size()) {
        return testing::AssertionFailure() << a.size() << " against " << b.size() << " pixels";
    }
    long differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ += a[i] != b[i];
    if (differ != 0) return testing::AssertionFailure() << differ << " pixels differ";
    return testing::AssertionSuccess() << "all " << a.size() << " pixels equal";
}

long countOf(const Pixels& pixels, uint16_t colour) {
    return std::count(pixels.begin(), pixels.end(), colour);
}

// Quick parameters: short waits and lifts, two bottom layers; a thumbnail
// of its own for each seed.
PrintFileBuilder quickFile(int layers, float curing, int seed) {
    PrintFileBuilder f = PrintFileBuilder::quick(layers);
    f.p.curing_time = curing;
    f.thumbnail(kThumbnail.w, kThumbnail.h);
    for (size_t i = 0; i < f.thumb.size(); ++i)
        f.thumb[i] = static_cast<uint8_t>(i * 7 + seed * 31);
    return f;
}

Pixels thumbnailPixels(const PrintFileBuilder& f) {
    Pixels out;
    for (size_t i = 0; i + 1 < f.thumb.size(); i += 2) {
        out.push_back(static_cast<uint16_t>(f.thumb[i] << 8 | f.thumb[i + 1]));
    }
    return out;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// printer-sim at ten times speed with a stick folder the test fills before
// it starts. Touches go to the middle of their target.
class WindowScenario : public SimScenario {
  protected:
    WindowScenario() { speed_ = "10"; }

    void SetUp() override {
        stick_ = newFolder();
        const int files = fillStick(stick_);
        if (files >= 0) args_ = {"--stick", stick_.string()};
        SimScenario::SetUp();
        if (HasFatalFailure() || files < 0) return;
        ASSERT_NO_FATAL_FAILURE(awaitListed(files));
    }
    void TearDown() override {
        SimScenario::TearDown();
        std::error_code ec;
        for (const fs::path& f : folders_) fs::remove_all(f, ec);
    }

    // Fills the stick folder; the number of print files listed, or -1 to
    // start without a stick.
    virtual int fillStick(const fs::path&) { return -1; }

    fs::path newFolder() {
        std::string templ = (fs::temp_directory_path() / "stick-XXXXXX").string();
        EXPECT_NE(mkdtemp(templ.data()), nullptr);
        folders_.push_back(templ);
        return templ;
    }
    void put(const std::string& name, const PrintFileBuilder& f) {
        fs::create_directories(stick_ / "pravik3d");
        std::ofstream(stick_ / "pravik3d" / name, std::ios::binary) << f.bytes();
        files_[name] = f;
    }

    json state() { return get("/api/state"); }
    int window() { return state()["current_window_ID"]; }

    // Waits until `n` more main-loop passes have run.
    void passes(int n) {
        const uint64_t from = state()["main_loop_passes"];
        for (int i = 0; i < 20000 && state()["main_loop_passes"].get<uint64_t>() < from + n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void pen(bool down, Point p = {}) {
        const json body =
            down ? json{{"down", true}, {"x", p.x}, {"y", p.y}} : json{{"down", false}};
        const auto res = client_->Post("/api/pen", body.dump(), "application/json");
        ASSERT_TRUE(res && res->status == 200) << body;
    }

    // One press: down for a few passes and at least `hold_ms` of firmware
    // time, then up for a few, so the firmware sees both however busy the
    // machine is, and has drawn what the press asked for.
    void touch(Point p, int64_t hold_ms = 0) {
        const int64_t t0 = state()["sim_time_ms"];
        ASSERT_NO_FATAL_FAILURE(pen(true, p));
        passes(3);
        while (state()["sim_time_ms"].get<int64_t>() - t0 < hold_ms) nap();
        ASSERT_NO_FATAL_FAILURE(pen(false));
        passes(3);
    }

    // `field` of the state reads `want` within `budget` main-loop passes
    // (about 20 ms each): counted by the firmware, so a busy machine does not
    // eat into it.
    void awaitState(const char* field, const json& want, uint64_t budget) {
        const uint64_t from = state()["main_loop_passes"];
        for (int i = 0;; ++i) {
            const json s = state();
            if (s[field] == want) return;
            ASSERT_LE(s["main_loop_passes"].get<uint64_t>() - from, budget)
                << field << " is " << s[field];
            ASSERT_LT(i, 20000) << "the main loop has stalled";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // A request is drawn on the next pass.
    void awaitWindow(int id) {
        awaitState("current_window_ID", id, 10);
        awaitState("change_window", 0, 10);
    }

    void awaitListed(int files) {
        awaitState("s_isMounted", 1, 150);
        awaitState("usb_file_count", files, 150);
        passes(2);  // the names are read in the pass that counted them
    }

    std::vector<std::string> listed() {
        return state()["file_name_list"].get<std::vector<std::string>>();
    }
    int rowOf(const std::string& name) {
        const std::vector<std::string> l = listed();
        return static_cast<int>(std::find(l.begin(), l.end(), name) - l.begin());
    }

    void pullStick() {
        const auto res = client_->Post("/api/usb/remove", "", "application/json");
        ASSERT_TRUE(res && res->status == 200);
    }
    void insertStick(const fs::path& dir, int files) {
        awaitState("s_isMounted", 0, 150);
        const auto res = client_->Post("/api/usb/insert", json{{"dir", dir.string()}}.dump(),
                                       "application/json");
        ASSERT_TRUE(res && res->status == 200);
        awaitListed(files);
    }

    Pixels panel() {
        auto res = client_->Get("/api/panel.png");
        Pixels out;
        if (!res || res->status != 200) {
            ADD_FAILURE() << "no panel picture";
            return out;
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, res->body.data(), res->body.size())) {
            return out;
        }
        image.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return out;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            out.push_back(static_cast<uint16_t>((rgb[i] >> 3) << 11 | (rgb[i + 1] >> 2) << 5 |
                                                rgb[i + 2] >> 3));
        }
        EXPECT_EQ(out.size(), 320u * 240u) << "the panel could not be read";
        return out;
    }

    // True once the panel passes `check`, within `budget` main-loop passes.
    bool awaitPanel(const std::function<bool(const Pixels&)>& check, uint64_t budget = 100) {
        const uint64_t from = state()["main_loop_passes"];
        for (int i = 0; i < 20000; ++i) {
            if (check(panel())) return true;
            if (state()["main_loop_passes"].get<uint64_t>() - from > budget) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool awaitPicture(const unsigned char* p, int x, int y) {
        return awaitPanel([&](const Pixels& f) { return shows(f, p, x, y); });
    }

    void awaitStatus(int status) {
        for (int i = 0; i < 3000; ++i, nap()) {
            if (state()["print_status"] == status) return;
        }
        FAIL() << "print status never became " << status << ", it is " << state()["print_status"];
    }

    // Home, the browser, then two taps on `row` of its first page.
    void openFromHome(int row) {
        touch(kHomeFile);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        touch(kRow[row]);
        touch(kRow[row]);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    }

    fs::path stick_;
    std::vector<fs::path> folders_;
    std::map<std::string, PrintFileBuilder> files_;
};

// Twelve print files: three pages, the last with two rows. At half the
// speed, so exposures timed in firmware time keep their slack on a busy machine.
class TwelveFileStick : public WindowScenario {
  protected:
    TwelveFileStick() { speed_ = "5"; }

    int fillStick(const fs::path&) override {
        for (int i = 0; i < 12; ++i) {
            char name[32];
            snprintf(name, sizeof name, "part%02d.pvk4k", i);
            put(name, quickFile(4, 1000, i));
        }
        return 12;
    }
    // The list as the firmware must show it: the folder's order reversed.
    std::vector<std::string> folderOrderReversed() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(stick_ / "pravik3d")) {
            names.push_back(e.path().filename().string());
        }
        std::reverse(names.begin(), names.end());
        return names;
    }
};

TEST_F(TwelveFileStick, FromPowerOnThroughTheWindowsToAFinishedPrint) {
    const std::vector<std::string> names = folderOrderReversed();
    ASSERT_EQ(listed(), names);
    ASSERT_EQ(window(), +INDEX_WINDOW_HOME);
    const Pixels home = picturePixels(gImage_home);
    EXPECT_TRUE(awaitPanel([&](const Pixels& f) { return f == home; }));

    // The browser: three pages, next and previous wrap around.
    touch(kHomeFile);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    Pixels shot = panel();
    const Pixels page1 = cut(shot, kPageNumber);
    for (int j = 0; j < 5; ++j)
        EXPECT_FALSE(same(cut(shot, rowBand(j)), plain(gImage_file, rowBand(j))));
    touch(kNextPage);
    const Pixels page2 = cut(panel(), kPageNumber);
    touch(kNextPage);
    shot = panel();
    const Pixels page3 = cut(shot, kPageNumber);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(cut(shot, rowBand(j)) == plain(gImage_file, rowBand(j)), j >= 2) << "row " << j;
    }
    EXPECT_FALSE(same(page1, page2));
    EXPECT_FALSE(same(page2, page3));
    EXPECT_FALSE(same(page1, page3));
    touch(kNextPage);
    EXPECT_TRUE(same(cut(panel(), kPageNumber), page1));
    touch(kPrevPage);
    EXPECT_TRUE(same(cut(panel(), kPageNumber), page3));

    // The last file: one tap highlights its row, the second opens it.
    touch(kRow[1]);
    shot = panel();
    EXPECT_GT(countOf(cut(shot, rowBand(1)), kHighlight),
              countOf(plain(gImage_file, rowBand(1)), kHighlight));
    EXPECT_EQ(countOf(cut(shot, rowBand(0)), kHighlight),
              countOf(plain(gImage_file, rowBand(0)), kHighlight));
    EXPECT_EQ(window(), +INDEX_WINDOW_FILE);
    touch(kRow[1]);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    const PrintFileBuilder& file = files_[names[11]];
    shot = panel();
    EXPECT_TRUE(same(cut(shot, kThumbnail), thumbnailPixels(file)));
    for (const Rect& r : kPreviewTexts) {
        EXPECT_FALSE(same(cut(shot, r), plain(gImage_detail, r)))
            << "text at " << r.x << "," << r.y;
    }
    const int64_t planned = state()["print_times"];

    // Curing Time: down to its least and held there, then up to 1500.
    touch(kMore);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    shot = panel();
    EXPECT_TRUE(same(cut(shot, kBottomBar), plain(gImage_detail_more_without_change, kBottomBar)));
    const Pixels curingAsRead = cut(shot, kCuringValue);
    touch(kCuringRow);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETEREDIT));
    for (Point p : {kBigDown, kBigDown, kBigUp, kSmallUp, kSmallUp, kSmallUp, kSmallUp}) touch(p);
    EXPECT_EQ(window(), +INDEX_WINDOW_PARAMETEREDIT);
    touch(kEditOk);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    shot = panel();
    EXPECT_TRUE(same(cut(shot, kBottomBar), plain(gImage_detail_more_with_change, kBottomBar)));
    const Pixels curingChanged = cut(shot, kCuringValue);
    EXPECT_FALSE(same(curingChanged, curingAsRead));

    // Applied: the list is unchanged again and its corner leads back.
    touch(kApply);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETERSAVE));
    EXPECT_TRUE(shows(panel(), gImage_parameter_apply, 40, 40));
    touch(kConfirmYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    shot = panel();
    EXPECT_TRUE(same(cut(shot, kBottomBar), plain(gImage_detail_more_without_change, kBottomBar)));
    EXPECT_FALSE(same(cut(shot, kCuringValue), curingAsRead));
    EXPECT_FALSE(same(cut(shot, kCuringValue), curingChanged));
    touch(kListReturn);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    // Two normal layers, each 500 ms longer.
    EXPECT_EQ(state()["print_times"], planned + 2 * 500);

    // Start, yes: the print runs with the applied time and ends at Home.
    const uint64_t since = get("/api/trace")["next"];
    touch(kStart);
    EXPECT_TRUE(shows(panel(), gImage_detailpageprintdialog, 40, 40));
    EXPECT_EQ(window(), +INDEX_WINDOW_DETAIL);
    touch(kDialogYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    ASSERT_NO_FATAL_FAILURE(awaitStatus(PRINT_END));
    std::vector<int64_t> exposure;
    const json lines = get("/api/trace?since=" + std::to_string(since))["lines"];
    std::vector<std::pair<int64_t, std::string>> sent;
    for (const json& l : lines) {
        if (l["dir"] == "tx" && l["text"] != "M105") sent.emplace_back(l["t"], l["text"]);
    }
    for (size_t i = 0; i + 1 < sent.size(); ++i) {
        if (sent[i].second == "M219") exposure.push_back(sent[i + 1].first - sent[i].first);
    }
    ASSERT_EQ(exposure.size(), 4u);
    const int64_t want_ms[] = {2000, 2000, 1500, 1500};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_GE(exposure[i], want_ms[i]) << "layer " << i + 1;
        EXPECT_LE(exposure[i], want_ms[i] + 100 + 300) << "layer " << i + 1;
    }
    awaitState("current_window_ID", INDEX_WINDOW_HOME, 100);  // the next second's redraw
    EXPECT_EQ(readFile(stick_ / "pravik3d" / names[11]), file.bytes()) << "apply wrote the file";
}

TEST_F(TwelveFileStick, AHeldPressActsOnceAndTheListFollowsThePageButtons) {
    touch(kHomeFile);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    Pixels shot = panel();
    const Pixels page1 = cut(shot, kPageNumber);
    const Pixels list1 = cut(shot, kListArea);

    // Three seconds on the next-page button: one page on, and two more taps
    // come round to the first page.
    touch(kNextPage, 3000);
    const Pixels page2 = cut(panel(), kPageNumber);
    EXPECT_FALSE(same(page2, page1));
    touch(kNextPage);
    EXPECT_FALSE(same(cut(panel(), kPageNumber), page2));
    touch(kNextPage);
    EXPECT_TRUE(same(cut(panel(), kPageNumber), page1));
    // Held on a row: highlighted, not opened as a second tap would.
    touch(kRow[2], 3000);
    EXPECT_EQ(window(), +INDEX_WINDOW_FILE);
    EXPECT_GT(countOf(cut(panel(), rowBand(2)), kHighlight),
              countOf(plain(gImage_file, rowBand(2)), kHighlight));

    // The first-page button from the last page: the number at once, the rows
    // of the first page only with the next once-a-second redraw (a press
    // falling across one is tried again).
    touch(kPrevPage);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const uint64_t from = state()["main_loop_passes"];
        ASSERT_NO_FATAL_FAILURE(pen(true, kFirstPage));
        passes(2);
        shot = panel();
        const uint64_t to = state()["main_loop_passes"];
        ASSERT_NO_FATAL_FAILURE(pen(false));
        passes(3);
        if (to / 50 == (from - 1) / 50) break;  // no redraw pass in between
        touch(kPrevPage);
    }
    EXPECT_TRUE(same(cut(shot, kPageNumber), page1));
    EXPECT_FALSE(same(cut(shot, kListArea), list1)) << "the rows follow with the redraw";
    passes(60);
    ASSERT_TRUE(same(cut(panel(), kPageNumber), page1));
    EXPECT_TRUE(same(cut(panel(), kListArea), list1));

    // A highlight on one page, then the same row on the next: paging clears
    // the highlight but remembers the row, so one tap opens that file.
    touch(kRow[0]);
    EXPECT_GT(countOf(cut(panel(), rowBand(0)), kHighlight), 0);
    touch(kNextPage);
    EXPECT_EQ(countOf(cut(panel(), rowBand(0)), kHighlight),
              countOf(plain(gImage_file, rowBand(0)), kHighlight));
    touch(kRow[0]);
    passes(3);
    EXPECT_EQ(window(), +INDEX_WINDOW_DETAIL);
}

// Two print files with a long curing time, near the top of its range.
class TwoFileStick : public WindowScenario {
  protected:
    int fillStick(const fs::path&) override {
        put("first.pvk4k", quickFile(3, 97000, 1));
        put("second.pvk4k", quickFile(3, 97000, 2));
        return 2;
    }
};

TEST_F(TwoFileStick, SavedParametersAreWrittenIntoTheFileAndReadOnTheNextOpen) {
    const std::vector<std::string> names = listed();
    ASSERT_EQ(names.size(), 2u);
    ASSERT_NO_FATAL_FAILURE(openFromHome(0));
    const int64_t planned = state()["print_times"];
    touch(kMore);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    const Pixels curingAsRead = cut(panel(), kCuringValue);

    // 97000 up by 1000 four times stops at 99900.
    touch(kCuringRow);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETEREDIT));
    for (int i = 0; i < 4; ++i) touch(kBigUp);
    touch(kEditOk);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    const uint64_t logFrom = get("/api/log")["next"];
    touch(kSave);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETERSAVE));
    EXPECT_TRUE(shows(panel(), gImage_parameter_save, 40, 40));
    touch(kConfirmYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    Pixels shot = panel();
    EXPECT_TRUE(same(cut(shot, kBottomBar), plain(gImage_detail_more_without_change, kBottomBar)));
    const Pixels curingSaved = cut(shot, kCuringValue);
    EXPECT_FALSE(same(curingSaved, curingAsRead));

    // The parameter block and nothing else; the other file untouched.
    const PrintFileBuilder& file = files_[names[0]];
    const std::string was = file.bytes();
    const std::string now = readFile(stick_ / "pravik3d" / names[0]);
    ASSERT_EQ(now.size(), was.size());
    EXPECT_EQ(now.compare(0, 8, was, 0, 8), 0);
    EXPECT_EQ(now.compare(180, std::string::npos, was, 180, std::string::npos), 0);
    PrintParameter stored{};
    memcpy(&stored, now.data() + 8, sizeof stored);
    EXPECT_EQ(stored.curing_time, 99900.0f);
    PrintParameter want = file.p;
    want.curing_time = 99900;
    want.bottom_layers = want.burnin_range / want.ZThick;  // every read recomputes it
    EXPECT_EQ(memcmp(&stored, &want, sizeof want), 0) << "other fields of the block changed";
    EXPECT_EQ(readFile(stick_ / "pravik3d" / names[1]), files_[names[1]].bytes());

    // Writable only for the write.
    std::vector<std::string> os;
    const json log = get("/api/log?since=" + std::to_string(logFrom));
    for (const json& l : log["lines"]) {
        const std::string text = l["text"];
        if (text.rfind("[os] ", 0) == 0) os.push_back(text);
    }
    EXPECT_EQ(os, (std::vector<std::string>{"[os] mount -o remount,rw /opt/usb", "[os] sync",
                                            "[os] mount -o remount,ro /opt/usb"}));
    EXPECT_TRUE(get("/api/board")["usb"]["read_only"].get<bool>());

    // Opened afresh from the browser: the saved value is what is read.
    touch(kListReturn);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    touch(kBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    touch(kRow[0]);
    touch(kRow[0]);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    EXPECT_EQ(state()["print_times"], planned + 2900);  // one normal layer
    touch(kMore);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    EXPECT_TRUE(same(cut(panel(), kCuringValue), curingSaved));
    // At the top already: one more step up leaves the list unchanged.
    touch(kCuringRow);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PARAMETEREDIT));
    touch(kBigUp);
    touch(kEditOk);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAILMORE));
    EXPECT_TRUE(
        same(cut(panel(), kBottomBar), plain(gImage_detail_more_without_change, kBottomBar)));
}

TEST_F(TwoFileStick, TheStartIsRefusedWhenTheLightIsTooHotOrItsSensorFailed) {
    ASSERT_NO_FATAL_FAILURE(openFromHome(0));
    const Pixels preview = panel();
    const Point error = middleOf(gImage_detailpagetemperror, 40, 40);
    const std::pair<const char*, int> refused[] = {{R"({"temperature":56})", 56},
                                                   {R"({"sensor_failure":true})", -10}};
    for (const auto& [board, reported] : refused) {
        SCOPED_TRACE(board);
        ASSERT_EQ(post(board), 200);
        awaitState("current_temperature", reported, 150);
        touch(kStart);
        touch(kDialogYes);
        EXPECT_TRUE(shows(panel(), gImage_detailpagetemperror, 40, 40));
        ASSERT_EQ(window(), +INDEX_WINDOW_DETAIL);
        ASSERT_EQ(state()["is_printing_true"], 0);
        // The next touch brings the preview back.
        touch(error);
        EXPECT_TRUE(awaitPanel([&](const Pixels& f) { return f == preview; }));
    }
    ASSERT_EQ(post(R"({"temperature":55,"sensor_failure":false})"), 200);
    awaitState("current_temperature", 55, 150);
    touch(kStart);
    touch(kDialogYes);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    awaitStatus(PRINT_RUNNING);
}

TEST_F(TwoFileStick, APulledStickSendsTheBrowserAndThePreviewHome) {
    touch(kHomeFile);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    ASSERT_NO_FATAL_FAILURE(pullStick());
    EXPECT_TRUE(awaitPicture(gImage_filepagenousb, 40, 40));
    EXPECT_EQ(window(), +INDEX_WINDOW_FILE);
    touch(middleOf(gImage_filepagenousb, 40, 40));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));
    const Pixels grey = picturePixels(gImage_homegray);
    EXPECT_TRUE(awaitPanel([&](const Pixels& f) { return f == grey; }));

    ASSERT_NO_FATAL_FAILURE(insertStick(stick_, 2));
    ASSERT_NO_FATAL_FAILURE(openFromHome(1));
    ASSERT_NO_FATAL_FAILURE(pullStick());
    EXPECT_TRUE(awaitPicture(gImage_filepageopenerror, 40, 40));
    EXPECT_EQ(window(), +INDEX_WINDOW_DETAIL);
    touch(middleOf(gImage_filepageopenerror, 40, 40));
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));
}

// A good file, two the preview refuses and one that is gone by the time it is opened.
class RefusingStick : public WindowScenario {
  protected:
    int fillStick(const fs::path& stick) override {
        put("good.pvk4k", quickFile(3, 1000, 1));
        put("gone.pvk4k", quickFile(3, 1000, 2));
        PrintFileBuilder flat = quickFile(3, 1000, 3);
        flat.p.ZThick = 0;
        put("flat.pvk4k", flat);
        std::string junk = quickFile(3, 1000, 4).bytes();
        junk.replace(0, 8, "Prusik3D");
        std::ofstream(stick / "pravik3d/junk.pvk4k", std::ios::binary) << junk;
        return 4;
    }
};

TEST_F(RefusingStick, FilesThatCannotBeOpenedShowTheOpenErrorAndATouchGoesBackToTheList) {
    touch(kHomeFile);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    const Point error = middleOf(gImage_filepageopenerror, 40, 40);

    // Removed after the listing: the browser itself shows the error, and
    // keeps it over its once-a-second redraw.
    fs::remove(stick_ / "pravik3d/gone.pvk4k");
    const int gone = rowOf("gone.pvk4k");
    ASSERT_LT(gone, 4);
    touch(kRow[gone]);
    touch(kRow[gone]);
    EXPECT_TRUE(shows(panel(), gImage_filepageopenerror, 40, 40));
    passes(60);
    EXPECT_TRUE(shows(panel(), gImage_filepageopenerror, 40, 40));
    EXPECT_EQ(window(), +INDEX_WINDOW_FILE);
    touch(error);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
    EXPECT_FALSE(shows(panel(), gImage_filepageopenerror, 40, 40));

    // Not a print file, and a layer thickness of 0: the preview refuses.
    for (const char* name : {"junk.pvk4k", "flat.pvk4k"}) {
        SCOPED_TRACE(name);
        const int row = rowOf(name);
        ASSERT_LT(row, 4);
        touch(kRow[row]);
        touch(kRow[row]);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
        EXPECT_TRUE(shows(panel(), gImage_filepageopenerror, 40, 40));
        touch(error);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        EXPECT_FALSE(shows(panel(), gImage_filepageopenerror, 40, 40));
    }

    // The good one still opens.
    touch(kRow[rowOf("good.pvk4k")]);
    touch(kRow[rowOf("good.pvk4k")]);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_DETAIL));
    EXPECT_TRUE(same(cut(panel(), kThumbnail), thumbnailPixels(files_["good.pvk4k"])));
}

TEST_F(WindowScenario, WithoutPrintFilesTheFileButtonLeadsToAWarningAndBackHome) {
    const Pixels grey = picturePixels(gImage_homegray);
    EXPECT_TRUE(awaitPanel([&](const Pixels& f) { return f == grey; }));
    touch(kHomeFile);
    EXPECT_EQ(window(), +INDEX_WINDOW_HOME);
    EXPECT_EQ(state()["change_window"], 0);

    // A stick without the print folder, then one whose folder holds no print file.
    const fs::path noFolder = newFolder();
    std::ofstream(noFolder / "notes.txt") << "x";
    const fs::path noFile = newFolder();
    fs::create_directories(noFile / "pravik3d/old.pvk4k");  // a folder, not a file
    std::ofstream(noFile / "pravik3d/readme.txt") << "x";
    const std::pair<fs::path, const unsigned char*> sticks[] = {{noFolder, gImage_filepagenofolder},
                                                                {noFile, gImage_filepagenofile}};
    for (const auto& [dir, warning] : sticks) {
        SCOPED_TRACE(dir.string());
        ASSERT_NO_FATAL_FAILURE(insertStick(dir, dir == noFolder ? USB_COUNT_NO_FOLDER : 0));
        touch(kHomeFile);
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_FILE));
        EXPECT_TRUE(shows(panel(), warning, 40, 40));
        touch(middleOf(warning, 40, 40));
        ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));
        ASSERT_NO_FATAL_FAILURE(pullStick());
    }
}

TEST_F(WindowScenario, ARequestForAWindowWithoutAnEntryStaysPendingAndTheShownOneKeepsItsTouches) {
    touch(kHomeSettings);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(kSettingsMore);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_ABOUT));
    const Pixels about = panel();

    // The update window has no entry: asked for, it never comes, past the
    // once-a-second step too, and About stays on the panel.
    touch(kAboutMore);
    passes(60);
    const json s = state();
    EXPECT_EQ(s["current_window_ID"], INDEX_WINDOW_ABOUT);
    EXPECT_EQ(s["next_window_ID"], INDEX_WINDOW_UPDATA);
    EXPECT_EQ(s["change_window"], 1);
    EXPECT_TRUE(same(panel(), about));

    // About still answers: its return replaces the pending request.
    touch(kAboutReturn);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_SETTING));
    touch(kSettingsBack);
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_HOME));
}

}  // namespace
