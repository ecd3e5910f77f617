// The two UV-intensity files and the touch-calibration file on any bytes,
// read from a sandbox through the firmware's own readers and held against
// models of their rules:
// - intensity: a volatile value of 50..250 wins; else the persistent file's
//   check lines 10, 20, 30 and an intensity of 0..250; else 250;
// - calibration: check line 10 and four values, scales 1..65535, offsets
//   0..65535, or nothing is taken.
// The input holds the three files separated by NUL bytes; a file that the
// input does not reach is absent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/app/global_data.h"
#include "firmware/platform/platform.h"
#include "firmware/touch/lcdtp.h"
#include "firmware/ui/ui.h"
#include "sim/sim_platform.h"
#include "sim/stick/sandbox.h"
#include "text_model.h"

namespace {

using fuzz_model::decimal;
using fuzz_model::Lines;

std::string g_root;
std::filesystem::path g_cwd;  // the readers change directory, as on the board

void place(const char* devicePath, const std::string* text) {
    const std::string path = sysPath(devicePath);
    if (text == nullptr) {
        std::filesystem::remove(path);
        return;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << *text;
}

int intensityModel(const std::string* volatileFile, const std::string* persistent) {
    std::string line;
    if (volatileFile != nullptr && Lines(*volatileFile).next(9, line)) {
        const long v = decimal(line.c_str());
        if (v >= 50 && v <= 250) return static_cast<int>(v);
    }
    if (persistent == nullptr) return 250;
    Lines lines(*persistent);
    for (long check : {10L, 20L, 30L}) {
        if (!lines.next(15, line) || decimal(line.c_str()) != check) return 250;
    }
    if (!lines.next(15, line)) return 250;
    const long v = decimal(line.c_str());
    return v >= 0 && v <= 250 ? static_cast<int>(v) : 250;
}

// The calibration the file gives, or false when it gives none.
bool calibrationModel(const std::string* file, TouchCalibration& out) {
    if (file == nullptr) return false;
    Lines lines(*file);
    long v[5];
    std::string line;
    for (int i = 0; i < 5; ++i) {
        if (!lines.next(i == 0 ? 9 : 24, line)) return false;
        v[i] = decimal(line.c_str());
        if (i == 0 && v[0] != 10) return false;
    }
    const auto scale = [](long x) { return x >= 1 && x <= 0xFFFF; };
    const auto offset = [](long x) { return x >= 0 && x <= 0xFFFF; };
    if (!scale(v[1]) || !scale(v[2]) || !offset(v[3]) || !offset(v[4])) return false;
    out = {static_cast<uint16_t>(v[3]), static_cast<uint16_t>(v[4]), static_cast<uint16_t>(v[1]),
           static_cast<uint16_t>(v[2])};
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers log every line they read; only the verdicts matter here.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    g_cwd = std::filesystem::current_path();
    g_root = sim::makeTempRoot();
    std::string error;
    if (g_root.empty() || !sim::makeSandbox(g_root, error)) abort();
    sim::configure(g_root);
    atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_root, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size && parts.size() <= 3; ++i) {
        if (data[i] == '\0') {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    const auto part = [&](size_t i) { return i < parts.size() ? &parts[i] : nullptr; };
    place("/var/ledpwm.txt", part(0));
    place("/opt/Pravik3D/ledpwm.txt", part(1));
    place("/opt/Pravik3D/tpAdjustdata.txt", part(2));

    if (ledPwmGet() != intensityModel(part(0), part(1))) __builtin_trap();

    const TouchCalibration before{1, 2, 3, 4};
    tp_dev = before;
    TouchCalibration want = before;
    const bool taken = calibrationModel(part(2), want);
    if (tpGetAdjdata() != (taken ? 1 : 0)) __builtin_trap();
    if (tp_dev.chx != want.chx || tp_dev.chy != want.chy || tp_dev.vx != want.vx ||
        tp_dev.vy != want.vy) {
        __builtin_trap();
    }
    std::filesystem::current_path(g_cwd);
    return 0;
}
