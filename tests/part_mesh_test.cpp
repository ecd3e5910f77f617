// The part's surface as STL: closed, turned outwards and holding the cells'
// volume for any stack of cells, and what a mesh tool makes of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "geometry/part.h"
#include "geometry/stl_check.h"

namespace {

namespace fs = std::filesystem;

// The most the mesh may lose to cells that touch only along an edge: each
// such edge bevels the corners of its two cells.
constexpr double kMostShaved = 1e-3;

struct Written {
    std::string stl;
    uint64_t triangles = 0;
    geometry::Mesh mesh;
};

Written write(const geometry::Part& part) {
    Written w;
    w.triangles = geometry::writeStl(part, [&](const char* d, size_t n) { w.stl.append(d, n); });
    w.mesh = geometry::readStl(w.stl);
    return w;
}

// The cells' volume with their corners where the STL's floats put them.
double floatVolume(const geometry::Part& part) {
    auto f = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    double v = 0;
    for (const geometry::PartLayer& l : part.layers()) {
        const double t = f(l.bottom_mm) - f(l.top_mm);
        if (l.bottom_mm - l.top_mm <= 1e-9 || t <= 0) continue;
        for (int y = l.cells.y0(); y < l.cells.y1(); ++y) {
            for (int x = l.cells.x0(); x < l.cells.x1(); ++x) {
                if (!l.cells.has(x, y)) continue;
                v += (f((x + 1) * geometry::kCellWidthMm) - f(x * geometry::kCellWidthMm)) *
                     (f((y + 1) * geometry::kCellHeightMm) - f(y * geometry::kCellHeightMm)) * t;
            }
        }
    }
    return v;
}

// Every edge in two facets, once each way, none of them flat or turned
// inwards, the header's count the facets written.
void expectClosed(const Written& w) {
    EXPECT_EQ(w.mesh.facets, w.triangles);
    EXPECT_TRUE(w.mesh.closed);
    EXPECT_EQ(w.mesh.degenerate, 0u);
    EXPECT_EQ(w.mesh.misturned, 0u);
}

// The enclosed volume is the cells', less at most what the bevels take.
void expectVolume(const Written& w, const geometry::Part& part) {
    const double cells = part.volumeMm3(), exact = floatVolume(part);
    EXPECT_GT(w.mesh.volume, 0);
    EXPECT_NEAR(w.mesh.volume, cells, cells * kMostShaved);
    EXPECT_LE(w.mesh.volume, exact * (1 + 1e-9));
    EXPECT_GE(w.mesh.volume, exact * (1 - kMostShaved) - 1e-12);
}

class Layers {
  public:
    // Cells x0 <= x < x1, y0 <= y < y1 between two depths.
    Layers& blocks(double top, double bottom, std::initializer_list<std::array<int, 4>> blocks) {
        clear();
        for (const auto& [x0, y0, x1, y1] : blocks) {
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) flags_[at(x, y)] = 1;
        }
        return add(top, bottom);
    }
    // A picture of cells from (x0, y0), '#' filled.
    Layers& art(double top, double bottom, int x0, int y0,
                std::initializer_list<const char*> rows) {
        clear();
        int y = y0;
        for (const char* row : rows) {
            for (int x = 0; row[x] != 0; ++x) flags_[at(x0 + x, y)] = row[x] == '#';
            ++y;
        }
        return add(top, bottom);
    }
    const geometry::Part& part() const { return part_; }

  private:
    static size_t at(int x, int y) { return static_cast<size_t>(y) * geometry::kCellsX + x; }
    void clear() { std::fill(flags_.begin(), flags_.end(), 0); }
    Layers& add(double top, double bottom) {
        part_.add({top, bottom, geometry::CellSet::of(flags_.data()), 0, true});
        return *this;
    }
    std::vector<uint8_t> flags_ = std::vector<uint8_t>(geometry::kCells, 0);
    geometry::Part part_;
};

struct Shape {
    const char* name;
    geometry::Part part;
    size_t surfaces;  // separate closed surfaces
    bool edge_contact;
};

std::vector<Shape> shapes() {
    std::vector<Shape> s;
    // Overhangs, shrinking layers, rings and bodies side by side are left to
    // the random stacks below; these are the shapes they rarely make.
    s.push_back({"a void closed in on all sides",
                 Layers()
                     .blocks(0, 0.05, {{266, 476, 270, 480}})
                     .art(0.05, 0.1, 266, 476, {"####", "#..#", "#..#", "####"})
                     .blocks(0.1, 0.15, {{266, 476, 270, 480}})
                     .part(),
                 2, false});
    s.push_back({"one-cell layers, a gap and a layer of no thickness",
                 Layers()
                     .blocks(0, 0.05, {{3, 3, 4, 4}})
                     .blocks(0.08, 0.1, {{3, 3, 4, 4}})
                     .blocks(0.1, 0.1, {{0, 0, 8, 8}})
                     .blocks(0.1, 0.2, {{3, 3, 5, 4}})
                     .part(),
                 2, false});
    s.push_back(
        {"cells touching along an edge in one layer",
         Layers().art(0, 0.05, 5, 5, {"#.", ".#"}).art(0.05, 0.1, 5, 5, {"#.", ".#"}).part(), 2,
         true});
    s.push_back({"cells touching along an edge across two layers",
                 Layers().art(0, 0.05, 5, 5, {"#."}).art(0.05, 0.2, 5, 5, {".#"}).part(), 2, true});
    s.push_back({"cells touching at a corner only",
                 Layers()
                     .art(0, 0.05, 5, 5, {"#.", ".."})
                     .art(0.05, 0.1, 5, 5, {"..", ".#"})
                     .art(0.1, 0.15, 5, 5, {"#.", ".."})
                     .part(),
                 3, false});
    s.push_back(
        {"an edge contact beside a joined step",
         Layers().art(0, 0.05, 5, 5, {"##.", "..#"}).art(0.05, 0.1, 5, 5, {".#.", "..."}).part(), 2,
         true});
    // Deep down, layers thinner than a float step of the depth is deep: the
    // points drawn in stay apart across the edge.
    s.push_back({"an edge contact across thin layers deep at the mask's far corner",
                 Layers()
                     .art(100, 100.001, 268, 478, {"#.", ".."})
                     .art(100.001, 100.002, 268, 478, {".#", "##"})
                     .part(),
                 2, true});
    // Every edge inside it is such a contact: the most the bevels take.
    Layers checker;
    for (int z = 0; z < 6; ++z) {
        checker.art(z * 0.05, (z + 1) * 0.05, 0, 0,
                    {z % 2 ? ".#.#.#" : "#.#.#.", z % 2 ? "#.#.#." : ".#.#.#",
                     z % 2 ? ".#.#.#" : "#.#.#.", z % 2 ? "#.#.#." : ".#.#.#",
                     z % 2 ? ".#.#.#" : "#.#.#.", z % 2 ? "#.#.#." : ".#.#.#"});
    }
    s.push_back({"a checkerboard in depth", checker.part(), 108, true});
    // Depths that differ by less than the file's floats resolve are the same
    // depth there: the layers touch.
    s.push_back({"depths a float step apart",
                 Layers()
                     .blocks(0, 10.0, {{3, 3, 6, 6}})
                     .blocks(10.0 + 2e-9, 10.05, {{4, 3, 7, 6}})
                     .blocks(10.05, 10.05 + 1e-7, {{0, 0, 9, 9}})
                     .blocks(10.05 + 1e-7, 10.1, {{3, 3, 6, 6}})
                     .part(),
                 1, false});
    return s;
}

TEST(PartMesh, NamedShapesAreClosedAndHoldTheirCells) {
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(shape.name);
        const Written w = write(shape.part);
        expectClosed(w);
        expectVolume(w, shape.part);
        EXPECT_EQ(w.mesh.parts, shape.surfaces);
        // Only an edge contact takes anything off.
        const double exact = floatVolume(shape.part);
        if (shape.edge_contact) {
            EXPECT_LT(w.mesh.volume, exact * (1 - 1e-7));
        } else {
            EXPECT_NEAR(w.mesh.volume, exact, exact * 1e-9);
        }
    }
}

// A stack of up to 12 x 12 cells and 8 layers from `seed`, anywhere on the
// mask and often against its edges: random densities, layers fresh or
// changed from the one above, thin and thick, now and then a gap or a layer
// of no thickness.
geometry::Part randomPart(uint32_t seed) {
    std::mt19937 rng(seed);
    auto whole = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
    const int w = whole(1, 12), h = whole(1, 12), layers = whole(1, 8);
    auto place = [&](int size, int cells) {
        const int where = whole(0, 3);
        return where == 0 ? 0 : where == 1 ? cells - size : whole(0, cells - size);
    };
    const int x0 = place(w, geometry::kCellsX), y0 = place(h, geometry::kCellsY);
    std::vector<uint8_t> flags(geometry::kCells, 0);
    geometry::Part part;
    double depth = 0;
    for (int i = 0; i < layers; ++i) {
        const bool fresh = i == 0 || whole(0, 2) == 0;
        const double density = real(0.05, 0.95), change = real(0, 0.4);
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                uint8_t& c = flags[static_cast<size_t>(y) * geometry::kCellsX + x];
                if (fresh) {
                    c = real(0, 1) < density;
                } else if (real(0, 1) < change) {
                    c = !c;
                }
            }
        }
        if (i > 0 && whole(0, 6) == 0) depth += real(0.001, 0.3);
        const double thickness =
            whole(0, 9) == 0 ? 0 : std::exp(real(std::log(0.001), std::log(0.5)));
        part.add({depth, depth + thickness, geometry::CellSet::of(flags.data()), 0, true});
        depth += thickness;
    }
    return part;
}

TEST(PartMesh, AnyStackOfCellsGivesAClosedOutwardSurfaceOfItsVolume) {
    constexpr uint32_t kSeeds = 400;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        const geometry::Part part = randomPart(seed);
        const Written w = write(part);
        if (part.volumeMm3() <= 0) {
            EXPECT_EQ(w.triangles, 0u) << "seed " << seed;
            continue;
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectClosed(w);
        expectVolume(w, part);
        if (::testing::Test::HasFailure()) break;
    }
}

// A part by hand: a 3 x 2 block with a cell on it, thicker.
TEST(PartPictures, EveryViewShowsThePart) {
    const geometry::Part p =
        Layers().blocks(0, 0.05, {{5, 5, 8, 7}}).blocks(0.05, 0.2, {{6, 5, 7, 6}}).part();
    for (const char* name : {"front", "side", "top", "iso"}) {
        geometry::View view{};
        ASSERT_TRUE(geometry::viewByName(name, view));
        int w = 0, h = 0;
        const std::vector<uint8_t> rgb = geometry::renderView(p, view, w, h);
        ASSERT_EQ(rgb.size(), size_t(w) * h * 3) << name;
        // Something of the part's blue is in the picture.
        bool blue = false;
        for (size_t i = 0; i < rgb.size(); i += 3) blue = blue || rgb[i + 2] > rgb[i] + 60;
        EXPECT_TRUE(blue) << name;
    }
}

}  // namespace
