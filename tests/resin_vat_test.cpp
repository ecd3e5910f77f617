#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "firmware/platform/platform.h"
#include "geometry/part.h"
#include "sim/vat/mask.h"
#include "sim/vat/resin_vat.h"

namespace {

namespace fs = std::filesystem;

// A vat over a mask file of the test's own, which the test writes as the
// firmware would; events at firmware times the test chooses.
class VatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vat-test-" + std::to_string(getpid()));
        fs::create_directories(root_ / "dev");
        std::string error;
        ASSERT_TRUE(sim::makeMaskFile(root_.string(), error)) << error;
        const int fd = open((root_ / "dev/fb0").c_str(), O_RDWR);
        void* map = mmap(nullptr, FRAME_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(map, MAP_FAILED);
        frame_ = static_cast<uint8_t*>(map);
        vat_.attachMask(root_.string());
        t_ = platformMonotonicUs();
    }
    void TearDown() override {
        munmap(frame_, FRAME_BYTES);
        fs::remove_all(root_);
    }

    // Cells x0 <= x < x1, y0 <= y < y1 at `value`, all else dark.
    void show(std::initializer_list<std::array<int, 4>> blocks, uint8_t value = 255) {
        memset(frame_, 0, FRAME_BYTES);
        for (const auto& [x0, y0, x1, y1] : blocks) {
            for (int line = y0 * geometry::kCellPixels; line < y1 * geometry::kCellPixels; ++line) {
                memset(frame_ + line * FRAME_LINE_BYTES + x0 * geometry::kCellPixels * 3, value,
                       (x1 - x0) * geometry::kCellPixels * 3);
            }
        }
        vat_.maskWritten(t_);
    }
    // The light on at Z for `seconds`, then off and a lift.
    void expose(double z, double seconds, int intensity = 255) {
        vat_.light(true, intensity, z, t_);
        t_ += static_cast<int64_t>(seconds * 1e6);
        vat_.light(false, intensity, z, t_);
        vat_.moveStarted(t_);
    }
    static double dose(double seconds) { return 3.0 * seconds; }  // mJ/cm2 at full light

    fs::path root_;
    uint8_t* frame_ = nullptr;
    sim::ResinVat vat_;  // Dp 0.12 mm, Ec 8 mJ/cm2, 3 mW/cm2
    int64_t t_ = 0;
};

TEST_F(VatTest, CuresByTheWorkingCurveAndKeepsOnlyWhatReachesThePart) {
    vat_.jobStarted();
    vat_.setJobLayer(0.05);
    // Layer 1: 10 s, 0.159 mm deep, onto the platform 0.05 mm away.
    show({{10, 10, 20, 20}});
    expose(0, 10);
    sim::CellExposure e = vat_.exposureAt(15 * 8, 15 * 8);
    EXPECT_NEAR(e.dose_mj_cm2, dose(10), 1e-3);
    EXPECT_NEAR(e.cure_depth_mm, 0.12 * std::log(dose(10) / 8), 1e-6);
    EXPECT_TRUE(e.bonded);
    // Layer 2, 5 s: 0.075 mm deep. Under the part (0.05 mm) it bonds, and so
    // does the overhang beside it; the island, 0.1 mm from the platform,
    // stays on the film.
    show({{10, 10, 20, 20}, {20, 10, 23, 20}, {40, 40, 42, 42}});
    expose(0.05, 5);
    EXPECT_FALSE(vat_.exposureAt(41 * 8, 41 * 8).bonded);
    EXPECT_GT(vat_.exposureAt(41 * 8, 41 * 8).cure_depth_mm, 0);
    // Layer 3 under 1 s: below the critical energy, nothing cures.
    expose(0.10, 1);
    vat_.jobEnded();

    const geometry::Part part = vat_.part();
    ASSERT_EQ(part.layers().size(), 3u);
    EXPECT_EQ(part.layers()[0].cells.count(), 100u);
    EXPECT_EQ(part.layers()[1].cells.count(), 130u);
    EXPECT_EQ(part.layers()[1].unbonded, 4u);
    EXPECT_FALSE(part.layers()[2].cured);
    EXPECT_NEAR(part.layers()[1].top_mm, 0.05, 1e-9);
    EXPECT_NEAR(part.layers()[1].bottom_mm, 0.10, 1e-9);
    EXPECT_NEAR(part.volumeMm3(), 230 * geometry::kCellAreaMm2 * 0.05, 1e-9);
    const sim::VatSummary s = vat_.summary();
    EXPECT_EQ(s.exposures, 3);
    EXPECT_EQ(s.layers_cured, 2);
    EXPECT_EQ(s.unbonded_layers, std::vector<int>{2});
    EXPECT_NEAR(s.platform_contact_mm2, 100 * geometry::kCellAreaMm2, 1e-9);
}

TEST_F(VatTest, DosesAtOneZAddUpAndFollowTheMaskAndTheIntensity) {
    vat_.jobStarted();
    vat_.setJobLayer(0.05);
    show({{0, 0, 4, 4}});
    vat_.light(true, 255, 0, t_);
    t_ += 2'000'000;
    show({{0, 0, 2, 4}}, 128);  // half the cells dimmed, the rest dark, the light still on
    t_ += 2'000'000;
    vat_.light(false, 255, 0, t_);
    show({{0, 0, 4, 4}});
    vat_.light(true, 51, 0, t_);  // a fifth of the intensity
    t_ += 5'000'000;
    vat_.light(false, 51, 0, t_);
    vat_.jobEnded();
    EXPECT_NEAR(vat_.exposureAt(8, 8).dose_mj_cm2, dose(2) + dose(2) * 128 / 255 + dose(1), 1e-3);
    EXPECT_NEAR(vat_.exposureAt(3 * 8, 8).dose_mj_cm2, dose(2) + dose(1), 1e-3);
    EXPECT_EQ(vat_.part().layers().size(), 1u);
}

// A cell's dose is its exact mean: half its values lit is half the dose,
// not a rounded 128/255 of it; the exposure says the mean it used.
TEST_F(VatTest, ACellsMeanIsExact) {
    vat_.jobStarted();
    vat_.setJobLayer(0.05);
    memset(frame_, 0, FRAME_BYTES);
    for (int line = 30 * 8; line < 30 * 8 + 4; ++line) {  // 4 of the cell's 8 lines
        memset(frame_ + line * FRAME_LINE_BYTES + 30 * 8 * 3, 255, 8 * 3);
    }
    vat_.maskWritten(t_);
    expose(0, 10);
    vat_.jobEnded();
    const sim::CellExposure e = vat_.exposureAt(30 * 8, 30 * 8);
    EXPECT_NEAR(e.cell_mean, 127.5, 1e-4);
    EXPECT_NEAR(e.dose_mj_cm2, dose(10) / 2, 1e-4);
}

// The file's cells by the same exact mean: a value of one more than a dark
// cell's makes an edge cell, one less than a lit cell's too.
TEST(FileCells, ThresholdsJudgeTheExactMean) {
    std::vector<uint8_t> frame(FRAME_BYTES, 0);
    auto cell = [&](int cx, int cy, int sum) {
        for (int line = 0; line < 8 && sum > 0; ++line) {
            uint8_t* v = frame.data() + (cy * 8 + line) * FRAME_LINE_BYTES + cx * 8 * 3;
            for (int i = 0; i < 24 && sum > 0; ++i) {
                v[i] = static_cast<uint8_t>(std::min(sum, 255));
                sum -= v[i];
            }
        }
    };
    cell(0, 0, 12 * 192);       // mean 12: dark
    cell(1, 0, 12 * 192 + 1);   // 12.005: an edge
    cell(2, 0, 230 * 192 - 1);  // 229.995: an edge
    cell(3, 0, 230 * 192);      // 230: lit
    cell(4, 0, 128 * 192 - 1);  // 127.995: not solid
    cell(5, 0, 128 * 192);      // 128: solid
    std::vector<uint16_t> sums(geometry::kCells);
    geometry::cellSums(frame.data(), sums.data());
    EXPECT_EQ(sums[1], 12 * 192 + 1);
    const geometry::ModelLayer m = geometry::modelLayer(sums.data());
    EXPECT_FALSE(m.grey.has(0, 0));
    EXPECT_TRUE(m.grey.has(1, 0));
    EXPECT_TRUE(m.grey.has(2, 0));
    EXPECT_TRUE(m.lit.has(3, 0));
    EXPECT_FALSE(m.grey.has(3, 0));
    EXPECT_FALSE(m.solid.has(4, 0));
    EXPECT_TRUE(m.solid.has(5, 0));
}

// Every cell's sum against one added up value by value, over seeded frames
// from dark to lit: sparse bright specks, blocks of one grey, noise, each
// reaching the frame's last line and last value.
TEST(FileCells, EveryCellSumIsItsValuesAddedUp) {
    std::vector<uint8_t> frame(FRAME_BYTES);
    std::vector<uint16_t> sums(geometry::kCells);
    std::mt19937 rng(7);
    for (int pass = 0; pass < 4; ++pass) {
        std::fill(frame.begin(), frame.end(), 0);
        const uint32_t lit = pass == 0 ? 0 : pass == 1 ? 1000 : pass == 2 ? 20 : 1;
        for (size_t i = 0; i < FRAME_BYTES; i += 1 + rng() % (lit ? 2 * lit : FRAME_BYTES)) {
            const size_t n = std::min<size_t>(1 + rng() % 300, FRAME_BYTES - i);
            std::fill_n(frame.begin() + static_cast<ptrdiff_t>(i), n, static_cast<uint8_t>(rng()));
        }
        frame.back() = 255;
        frame[FRAME_LINE_BYTES - 1] = 254;
        for (const geometry::CellSummer& summer : geometry::cellSummers()) {
            std::fill(sums.begin(), sums.end(), 1);
            summer.sum(frame.data(), sums.data());
            for (int cy = 0; cy < geometry::kCellsY; ++cy) {
                for (int cx = 0; cx < geometry::kCellsX; ++cx) {
                    unsigned want = 0;
                    for (int line = 0; line < 8; ++line) {
                        const uint8_t* v =
                            frame.data() + (cy * 8 + line) * FRAME_LINE_BYTES + cx * 24;
                        for (int i = 0; i < 24; ++i) want += v[i];
                    }
                    ASSERT_EQ(sums[cy * geometry::kCellsX + cx], want)
                        << summer.name << ", pass " << pass << " cell " << cx << "," << cy;
                }
            }
        }
    }
}

// A set holds exactly the flagged cells, over seeded flags from one cell to
// many, at the edges of the mask included.
TEST(FileCells, ACellSetHoldsExactlyTheFlaggedCells) {
    std::vector<uint8_t> flags(geometry::kCells);
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        std::fill(flags.begin(), flags.end(), 0);
        const uint32_t every = 1 + rng() % 5000;
        for (int i = static_cast<int>(rng() % every); i < geometry::kCells;
             i += 1 + static_cast<int>(rng() % every)) {
            flags[static_cast<size_t>(i)] = static_cast<uint8_t>(1 + rng() % 255);
        }
        if (round % 2 == 0) flags.back() = 1;
        if (round % 3 == 0) flags[geometry::kCellsX - 1] = 1;
        const geometry::CellSet set = geometry::CellSet::of(flags.data());
        uint32_t count = 0;
        for (int y = 0; y < geometry::kCellsY; ++y) {
            for (int x = 0; x < geometry::kCellsX; ++x) {
                const bool flagged = flags[static_cast<size_t>(y * geometry::kCellsX + x)] != 0;
                count += flagged;
                ASSERT_EQ(set.has(x, y), flagged) << "round " << round << " cell " << x << "," << y;
            }
        }
        EXPECT_EQ(set.count(), count);
    }
}

TEST_F(VatTest, LightOutsideAJobIsStrayAndLeavesThePartAlone) {
    vat_.jobStarted();
    vat_.setJobLayer(0.05);
    show({{0, 0, 4, 4}});
    expose(0, 10);
    vat_.jobEnded();
    show({{0, 0, 270, 480}});
    expose(0, 4);
    const sim::VatSummary s = vat_.summary();
    EXPECT_EQ(s.stray_light_ms, 4000u);
    EXPECT_NEAR(s.stray_max_dose_mj_cm2, dose(4), 1e-3);
    EXPECT_NEAR(s.stray_cured_area_mm2, 68.0 * 120.0, 0.1);
    EXPECT_EQ(vat_.part().layers().size(), 1u);
    vat_.jobStarted();
    vat_.setJobLayer(0.05);
    EXPECT_TRUE(vat_.part().layers().empty());
}

}  // namespace
