// The printed part: what the simulator's resin vat cured from the light, Z
// and mask the machine produced, held against the files' own geometry.
#include <sys/wait.h>
#include <cmath>

#include <cstdio>
#include <utility>

#include "firmware/print/layer_code.h"
#include "geometry/stl_check.h"
#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace scenario {
namespace {

// The demo stick of the build, as printer-sim inserts it by default.
class PartScenario : public SimScenario {
  protected:
    PartScenario() { args_.clear(); }
    void SetUp() override {
        SimScenario::SetUp();
        expectStateWithin("usb_file_count", 5, 3000);
    }

    // Prints `name` to its end; the part's state.
    json printToEnd(const std::string& name) {
        auto res = client_->Post("/api/print", json{{"file", name}}.dump(), "application/json");
        EXPECT_TRUE(res && res->status == 200) << name << ": " << (res ? res->body : "");
        awaitJobEnd();
        return get("/api/part");
    }
    // The job asked for has started and its thread has ended.
    void awaitJobEnd() {
        expectStateWithin("is_printing_true", 1, 10000);
        awaitStatus(PRINT_END, 3600);
        expectStateWithin("is_printing_true", 0, 10000);
    }
    json compare(const std::string& name) { return get("/api/part?file=" + name); }
    // A mesh tool finds one closed part of the cells' volume (admesh sums in
    // single precision, hence the tolerance).
    void expectMeshToolAgrees(const std::string& surface, double volume) {
        if (system("command -v admesh > /dev/null") != 0) {
            ADD_FAILURE() << "admesh is not installed (scripts/install-deps)";
            return;
        }
        const fs::path file = dir_.parent_path() / (dir_.filename().string() + "-part.stl");
        std::ofstream(file, std::ios::binary) << surface;
        FILE* p = popen(("admesh '" + file.string() + "'").c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        EXPECT_EQ(pclose(p), 0);
        fs::remove(file);
        auto number = [&](const std::string& label) {
            const size_t at = out.find(label);
            return at == std::string::npos ? -1.0
                                           : strtod(out.c_str() + at + label.size(), nullptr);
        };
        EXPECT_EQ(number("Number of parts       :"), 1) << out;
        EXPECT_EQ(number("Total disconnected facets        :"), 0) << out;
        EXPECT_EQ(number("Backwards edges       :"), 0) << out;
        EXPECT_NEAR(number("Volume   :"), volume, volume * 5e-4) << out;
    }
    std::string stl() {
        auto res = client_->Get("/api/part.stl");
        EXPECT_TRUE(res && res->status == 200);
        return res ? res->body : std::string();
    }
};

// What pvk4k simulate says of a file, as JSON, and its exit status.
std::pair<json, int> simulate(const fs::path& file) {
    const std::string command =
        std::string(PVK4K_PATH) + " simulate --json '" + file.string() + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = p != nullptr ? pclose(p) : -1;
    return {json::parse(out, nullptr, false), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// pvk4k simulate's part is the one the same print leaves in the simulator.
void expectSimulateAgrees(const fs::path& file, const json& part, const json& comparison,
                          int status) {
    if (std::string(TOOL_EMULATOR) != "")
        GTEST_SKIP() << "pvk4k simulate starts printer-sim itself";
    SCOPED_TRACE(file.filename().string());
    const auto [r, exit] = simulate(file);
    ASSERT_TRUE(r.is_object()) << file;
    EXPECT_EQ(exit, status) << r.dump(2);
    for (const char* k : {"layers_cured", "volume_mm3", "unbonded_layers", "unbonded_area_mm2",
                          "sticks_to_platform", "height_mm"}) {
        EXPECT_EQ(r["part"][k], part[k]) << k;
    }
    EXPECT_EQ(r["part"]["equal"], comparison["equal"]);
    EXPECT_EQ(r["layers"], part["layers_exposed"]);
    EXPECT_EQ(r["lit_moves"], part["lit_moves"]);
}

TEST_F(PartScenario, EveryDemoFilePrintedToItsEndEqualsItsModel) {
    for (const std::string name : {"cube.pvk4k", "ring.pvk4k", "pyramid.pvk4k", "齿轮.pvk4k"}) {
        SCOPED_TRACE(name);
        const json part = printToEnd(name);
        EXPECT_TRUE(part["sticks_to_platform"].get<bool>());
        EXPECT_EQ(part["unbonded_layer_count"], 0);
        EXPECT_EQ(part["layers_cured"], part["layers_exposed"]);
        const json c = compare(name);
        EXPECT_TRUE(c["equal"].get<bool>()) << c.dump();
        expectSimulateAgrees(
            fs::path(get("/api/board")["usb"]["dir"].get<std::string>()) / "pravik3d" / name, part,
            c, 0);
        EXPECT_EQ(c["cells_differ"], 0);
        EXPECT_GT(c["edge_cells"].get<int>(), 0);
        EXPECT_EQ(c["part_layers"], c["file_layers"]);
        if (name == "cube.pvk4k") {
            // 10 layers of 0.05 mm; the 1400-pixel square is 44.1 x 43.75 mm.
            EXPECT_NEAR(part["height_mm"].get<double>(), 0.5, 1e-6);
            const json box = part["bounding_box_mm"];
            EXPECT_NEAR(box["x"][1].get<double>() - box["x"][0].get<double>(), 44.1, 0.6);
            EXPECT_NEAR(box["y"][1].get<double>() - box["y"][0].get<double>(), 43.75, 0.6);
            const std::string surface = stl();
            const geometry::Mesh mesh = geometry::readStl(surface);
            EXPECT_TRUE(mesh.closed);
            EXPECT_NEAR(mesh.volume, part["volume_mm3"].get<double>(), 0.01);
            expectMeshToolAgrees(surface, part["volume_mm3"]);
        }
    }
}

TEST_F(PartScenario, APauseAndResumeGiveTheSamePart) {
    printToEnd("ring.pvk4k");
    const std::string plain = stl();
    ASSERT_EQ(print("ring.pvk4k"), 200);
    ASSERT_TRUE(runUntil("current_layer", 3, 600000));
    ASSERT_EQ(post(json{{"request", "pause"}}.dump(), "/api/print/request"), 200);
    expectStateWithin("print_status", PRINT_PAUSED, 120000);
    run(30000);
    ASSERT_EQ(post(json{{"request", "resume"}}.dump(), "/api/print/request"), 200);
    awaitJobEnd();
    EXPECT_EQ(stl(), plain);  // also: the second job started from an empty part
    EXPECT_TRUE(compare("ring.pvk4k")["equal"].get<bool>());
}

TEST_F(PartScenario, ACancelAfterLayerKLeavesExactlyKLayers) {
    ASSERT_EQ(print("ring.pvk4k"), 200);
    ASSERT_TRUE(runUntil("current_layer", 4, 600000));
    ASSERT_EQ(post(json{{"request", "cancel"}}.dump(), "/api/print/request"), 200);
    awaitStatus(PRINT_END, 600);
    const json part = get("/api/part");
    EXPECT_EQ(part["layers_exposed"], 4);
    EXPECT_EQ(part["layers_cured"], 4);
    EXPECT_NEAR(part["height_mm"].get<double>(), 0.2, 1e-6);
    const json c = compare("ring.pvk4k");
    EXPECT_FALSE(c["equal"].get<bool>());
    EXPECT_EQ(c["part_layers"], 4);
    EXPECT_EQ(c["file_layers"], 8);
    EXPECT_EQ(c["first_difference"]["layer"], 5);
}

// The part comes from what the board did, not from what the firmware meant:
// returns 0.01 mm short put every layer after the first 0.01 mm lower.
TEST_F(PartScenario, ReturnsThatStopShortMakeThePartDifferFromItsFile) {
    ASSERT_EQ(post(json{{"return_short_um", 10}}.dump()), 200);
    const json part = printToEnd("cube.pvk4k");
    EXPECT_NEAR(part["height_mm"].get<double>(), 0.5 + 9 * 0.01, 1e-6);
    const json c = compare("cube.pvk4k");
    EXPECT_FALSE(c["equal"].get<bool>());
    EXPECT_EQ(c["layers_misplaced"], 9);
    EXPECT_EQ(c["first_difference"]["layer"], 2);
}

// The material test darkens its bars one after another during one exposure:
// each cures deeper than the one darkened before it.
TEST_F(PartScenario, TheMaterialTestsBarsCureDeeperTheLongerTheyAreLit) {
    ASSERT_EQ(print("Velmor4Kprintmaterialtestfile.pvk4k"), 200);
    ASSERT_TRUE(runUntil("current_layer", 5, 3600000));  // layer 4, a normal one, is done
    auto depth = [&](int x, int y) {
        const json e = get("/api/part/exposure?x=" + std::to_string(x) + "&y=" + std::to_string(y));
        EXPECT_EQ(e["layer"], 4);
        return e["cure_depth_mm"].get<double>();
    };
    const double first = depth(600, 500), bar3 = depth(700, 880), bar5 = depth(700, 1260),
                 bar7 = depth(700, 1640);
    EXPECT_GT(first, 0);
    EXPECT_NEAR(bar3, first, 1e-6);  // both lit for start_time
    EXPECT_LT(bar3, bar5);
    EXPECT_LT(bar5, bar7);
    EXPECT_EQ(depth(1500, 3000), 0);  // outside the test's area
    // No file was previewed: the test moves by its own Zthick, 50 µm, and
    // so its platform starts 0.05 mm above the film.
    EXPECT_NEAR(get("/api/part")["home_gap_mm"].get<double>(), 0.05, 1e-6);
    ASSERT_EQ(post(json{{"request", "cancel"}}.dump(), "/api/print/request"), 200);
    awaitStatus(PRINT_END, 600);
    // It is no print file to hold the part against, and no name leaves the folder.
    for (const char* name : {"Velmor4Kprintmaterialtestfile.pvk4k", "../pravik3d/cube.pvk4k"}) {
        const auto res = client_->Get(std::string("/api/part?file=") + name);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << name;
    }
}

// Two bottom layers at 30 s hold; the rest, 3 s each, cure a skin too thin
// to reach the part: it stays on the film.
class PartFileScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        PrintFileBuilder f = PrintFileBuilder::quick(6);
        f.p.burnin_time = 30000;
        f.p.curing_time = 3000;
        f.layers.clear();
        for (int i = 0; i < 6; ++i) f.layer(FRAME_LINE_BYTES * 400);
        put("short.pvk4k", f.bytes());
        SimScenario::SetUp();
        expectStateWithin("usb_file_count", 1, 3000);
    }
};

TEST_F(PartFileScenario, AFileExposedFarTooShortLeavesItsLayersUnbonded) {
    ASSERT_EQ(print("short.pvk4k"), 200);
    awaitStatus(PRINT_END, 600);
    const json part = get("/api/part");
    EXPECT_EQ(part["layers_exposed"], 6);
    EXPECT_EQ(part["layers_cured"], 2);
    EXPECT_EQ(part["unbonded_layers"], json::array({3, 4, 5, 6}));
    // 400 lines of the whole width: 50 rows of 270 cells, each layer.
    EXPECT_NEAR(part["unbonded_area_mm2"].get<double>(), 4 * 50 * 270 * 0.251852 * 0.25, 0.1);
    EXPECT_TRUE(part["sticks_to_platform"].get<bool>());
    const json c = get("/api/part?file=short.pvk4k");
    EXPECT_FALSE(c["equal"].get<bool>());
    EXPECT_EQ(c["first_difference"]["layer"], 3);
    EXPECT_EQ(c["cells_differ"], 4 * 50 * 270);
    expectSimulateAgrees(stick_ / "pravik3d/short.pvk4k", part, c, 1);
}

// A layer with a patch that hangs over nothing: it stays on the film.
TEST_F(PartFileScenario, AnIslandStaysOnTheFilmAndPvk4kSimulateSaysSo) {
    PrintFileBuilder f = PrintFileBuilder::features();
    f.layers.clear();
    for (int i = 0; i < 5; ++i) {
        if (i == 3) {
            f.rects({{400, 800, 560, 960}, {800, 800, 880, 880}});  // the island, 0.2 mm up
        } else {
            f.rects({{400, 800, 560, 960}});
        }
    }
    f.p.layer_count = 5;
    put("island.pvk4k", f.bytes());
    ASSERT_NO_FATAL_FAILURE(restart());
    expectStateWithin("usb_file_count", 2, 3000);
    ASSERT_EQ(print("island.pvk4k"), 200);
    awaitStatus(PRINT_END, 600);
    const json part = get("/api/part");
    EXPECT_EQ(part["unbonded_layers"], json::array({4}));
    EXPECT_NEAR(part["unbonded_area_mm2"].get<double>(), 10 * 10 * 0.251852 * 0.25, 0.01);
    const json c = get("/api/part?file=island.pvk4k");
    EXPECT_FALSE(c["equal"].get<bool>());
    expectSimulateAgrees(stick_ / "pravik3d/island.pvk4k", part, c, 1);
}

}  // namespace
}  // namespace scenario
