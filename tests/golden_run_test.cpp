// Golden runs: the benchmark's 2000-layer print, its G-code trace and log
// with every line's firmware time, byte for byte as committed in golden/.
// Whatever makes the simulator faster must leave what it runs unchanged.
// After a deliberate change of what the firmware sends or prints,
// regenerate with VELMOR_UPDATE_GOLDEN=1 build/host/bin/golden_run_tests.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/print/print.h"
#include "tests/bench_print.h"
#include "tools/runner/sim_process.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A golden file is gzip-compressed text: a run's lines run to megabytes.
void expectGolden(const std::string& name, const std::vector<std::string>& lines) {
    const fs::path path = fs::path(VELMOR_GOLDEN_DIR) / name;
    if (getenv("VELMOR_UPDATE_GOLDEN") != nullptr) {
        gzFile out = gzopen(path.c_str(), "wb9");
        ASSERT_NE(out, nullptr);
        for (const std::string& l : lines) {
            gzwrite(out, l.data(), static_cast<unsigned>(l.size()));
            gzputc(out, '\n');
        }
        gzclose(out);
        return;
    }
    std::string text;
    gzFile in = gzopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr) << path;
    char chunk[65536];
    for (int n; (n = gzread(in, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    gzclose(in);
    const std::vector<std::string> want = linesOf(text);
    ASSERT_FALSE(want.empty()) << path;
    for (size_t i = 0; i < std::min(want.size(), lines.size()); ++i) {
        ASSERT_EQ(lines[i], want[i]) << name << ", line " << i + 1;
    }
    EXPECT_EQ(lines.size(), want.size()) << name;
}

// Under either serial schedule: running the parties as fibers must not
// change the run.
class GoldenRun : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenRun, TheBenchmarksPrintSendsAndLogsAsCommitted) {
    const fs::path dir = fs::temp_directory_path() / ("golden-run-" + std::to_string(getpid()));
    fs::create_directories(dir / "stick" / "pravik3d");
    std::ofstream(dir / "stick" / "pravik3d" / "cylinder.pvk4k", std::ios::binary)
        << bench_print::printFile();
    SimProcess sim;
    const int port = sim.start(PRINTER_SIM_PATH,
                               {"--paused", "--speed", "max", "--schedule", GetParam(), "--stick",
                                (dir / "stick").string()},
                               dir.string());
    ASSERT_NE(port, 0);
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(3600);
    auto run = [&](const json& body) {
        auto res = c.Post("/api/run", body.dump(), "application/json");
        return res && res->status == 200 ? json::parse(res->body) : json();
    };
    run({{"until", {{"field", "usb_file_count"}, {"equals", 1}}}, {"limit_ms", 10000}});
    auto res = c.Post("/api/print", R"({"file":"cylinder.pvk4k"})", "application/json");
    ASSERT_TRUE(res && res->status == 200);
    const json end = run(
        {{"until", {{"field", "print_status"}, {"equals", PRINT_END}}}, {"limit_ms", 200'000'000}});
    ASSERT_EQ(end["run"]["reached"], true);
    run({{"ms", 5000}});
    std::vector<std::string> lines;
    const json trace = json::parse(c.Get("/api/trace")->body);
    for (const json& l : trace["lines"]) {
        lines.push_back(std::to_string(l["t"].get<int64_t>()) + " " + l["dir"].get<std::string>() +
                        " " + l["text"].get<std::string>());
    }
    // Less the lines that print an address of this run: the sandbox's
    // folder and the layer buffer's heap address.
    const json log = json::parse(c.Get("/api/log")->body);
    for (const json& l : log["lines"]) {
        const std::string text = l["text"];
        if (text.find(dir.string()) != std::string::npos) continue;
        if (text.rfind("display_2K_data:", 0) == 0) continue;
        lines.push_back(std::to_string(l["t"].get<int64_t>()) + " log " + text);
    }
    EXPECT_EQ(sim.stop(), 0);
    fs::remove_all(dir);
    expectGolden("bench-print.txt.gz", lines);
}

INSTANTIATE_TEST_SUITE_P(Schedules, GoldenRun, ::testing::Values("serial", "fibers"));

}  // namespace
