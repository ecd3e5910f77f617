// A realistic print in printer-sim on its virtual clock, unpaced, on each
// serial schedule: 2000 layers of a 20 mm cylinder, 0.05 mm each, 6 s
// exposures, 5 mm lifts at 60 mm/min. Reports firmware seconds per real
// second and real milliseconds per layer, beside the decode of one such
// layer onto the mask (the floor: the one piece of work each layer cannot
// skip). The trace is checked to be what the sequencer must send, so the
// figure is for a correct print.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "firmware/print/layer_code.h"
#include "firmware/print/print.h"
#include "tests/bench_print.h"
#include "tools/runner/sim_process.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using bench_print::discLayer;
using bench_print::kExposureMs;
using bench_print::kLayers;
using bench_print::printFile;

json post(httplib::Client& c, const std::string& path, const json& body) {
    auto res = c.Post(path, body.dump(), "application/json");
    return res && res->status == 200 ? json::parse(res->body, nullptr, false) : json();
}

// What the trace must show: one exposure per layer, each normal one as long
// as the file says. "" or what is wrong.
std::string checkTrace(const fs::path& trace) {
    std::ifstream in(trace);
    std::string line;
    int exposures = 0, normal = 0;
    long long lightOn = -1;
    while (std::getline(in, line)) {
        char* end = nullptr;
        const long long t = strtoll(line.c_str(), &end, 10);
        const std::string rest = end;
        if (rest == " > M219") {
            ++exposures;
            lightOn = t;
        } else if (lightOn >= 0 && rest.rfind(" > ", 0) == 0 && rest != " > M105") {
            // The line after the light goes on ends the exposure; it may wait
            // for a status poll of the main loop to finish.
            normal += t - lightOn >= kExposureMs && t - lightOn < kExposureMs + 100 ? 1 : 0;
            lightOn = -1;
        }
    }
    if (exposures != kLayers) return "exposures: " + std::to_string(exposures);
    if (normal != kLayers - 5) return "6 s exposures: " + std::to_string(normal);
    return "";
}

// On the schedule named: serial with threads (the default) or with fibers.
void BM_PrintToTheEnd(benchmark::State& state, const char* schedule) {
    const fs::path dir = fs::temp_directory_path() / ("bench-sim-" + std::to_string(getpid()));
    fs::create_directories(dir / "stick" / "pravik3d");
    std::ofstream(dir / "stick" / "pravik3d" / "cylinder.pvk4k", std::ios::binary) << printFile();
    const fs::path trace = dir / "trace.txt";
    double real_s = 0, firmware_s = 0;
    for (auto _ : state) {
        SimProcess sim;
        // PRINTER_SIM names another build's simulator, for a before and after.
        const char* const other = std::getenv("PRINTER_SIM");
        const int port = sim.start(other != nullptr ? other : PRINTER_SIM_PATH,
                                   {"--paused", "--speed", "max", "--schedule", schedule, "--stick",
                                    (dir / "stick").string(), "--trace", trace.string()},
                                   dir.string());
        if (port == 0) return state.SkipWithError("printer-sim did not start");
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(3600);
        post(c, "/api/run",
             {{"until", {{"field", "usb_file_count"}, {"equals", 1}}}, {"limit_ms", 10000}});
        if (post(c, "/api/print", {{"file", "cylinder.pvk4k"}}).is_null()) {
            return state.SkipWithError("the print was refused");
        }
        const auto t0 = std::chrono::steady_clock::now();
        const json end = post(c, "/api/run",
                              {{"until", {{"field", "print_status"}, {"equals", PRINT_END}}},
                               {"limit_ms", 200'000'000}});
        const auto t1 = std::chrono::steady_clock::now();
        if (end.is_null() || end["run"]["reached"] != true) {
            return state.SkipWithError("the print did not end");
        }
        real_s = std::chrono::duration<double>(t1 - t0).count();
        firmware_s = end["run"]["ran_ms"].get<double>() / 1000;
        state.SetIterationTime(real_s);
        sim.stop();
        const std::string fault = checkTrace(trace);
        if (!fault.empty()) return state.SkipWithError(("trace: " + fault).c_str());
    }
    state.counters["firmware_s"] = firmware_s;
    state.counters["firmware_s_per_real_s"] = firmware_s / real_s;
    state.counters["real_ms_per_layer"] = real_s * 1000 / kLayers;
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK_CAPTURE(BM_PrintToTheEnd, serial, "serial")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_PrintToTheEnd, fibers, "fibers")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_DecodeOneLayer(benchmark::State& state) {
    const std::vector<uint8_t>& code = discLayer();
    std::unique_ptr<uint8_t[]> frame(new uint8_t[FRAME_BYTES]());
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeLayer(code.data(), code.size(), frame.get()));
        benchmark::ClobberMemory();
    }
    state.counters["code_bytes"] = static_cast<double>(code.size());
}
BENCHMARK(BM_DecodeOneLayer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
