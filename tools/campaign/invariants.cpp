#include "invariants.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/safety_envelope.h"
#include "firmware/ui/parameter_table.h"
#include "firmware/ui/picture_records.h"
#include "firmware/ui/ui.h"

namespace campaign {
namespace {

std::string fmt(const char* f, double a, double b = 0, double c = 0) {
    char text[256];
    snprintf(text, sizeof text, f, a, b, c);
    return text;
}

bool lightWindow(int window) {
    return window == INDEX_WINDOW_LED || window == INDEX_WINDOW_LEDPWM ||
           window == INDEX_WINDOW_LEDPWM1 || window == INDEX_WINDOW_TEST;
}

}  // namespace

void FaultTimes::on(double at_ms) {
    if (!spans_.empty() && std::isinf(spans_.back().second)) return;
    spans_.emplace_back(at_ms, std::numeric_limits<double>::infinity());
}

void FaultTimes::off(double at_ms) {
    if (!spans_.empty() && std::isinf(spans_.back().second)) spans_.back().second = at_ms;
}

bool FaultTimes::anyDuring(double from_ms, double to_ms) const {
    for (const auto& [a, b] : spans_) {
        if (a <= to_ms && from_ms <= b) return true;
    }
    return false;
}

std::optional<int> readingOf(const std::string& reply) {
    if (reply.rfind("ok ", 0) != 0) return std::nullopt;
    const size_t t = reply.find("T/");
    if (t == std::string::npos) return std::nullopt;
    size_t b = t;
    while (b > 0 &&
           (std::isdigit(static_cast<unsigned char>(reply[b - 1])) || reply[b - 1] == '-')) {
        --b;
    }
    if (b == t) return std::nullopt;
    return std::atoi(reply.substr(b, t - b).c_str());
}

std::optional<Broken> judgeLightSpan(const json& span, double now_ms, const FaultTimes& link,
                                     const std::vector<Reading>& readings) {
    const double on = span["on_ms"];
    const bool open = span["off_ms"].is_null();
    const double off = open ? now_ms : span["off_ms"].get<double>();
    const bool job = span["job"], test = span["material_test"];
    const int window = span["window"];
    if (!job && !test && !lightWindow(window)) {
        return Broken{"light-in-its-place",
                      fmt("the light came on at %.0f ms outside a job, the material test and the "
                          "light windows (window %.0f)",
                          on, window),
                      on};
    }
    if (span["moves"].get<int>() > 0) {
        return Broken{"no-move-while-lit",
                      fmt("%.0f moves started while the light was on from %.0f ms",
                          span["moves"].get<double>(), on),
                      on};
    }
    // The limit holds for a job's exposures on a healthy link; a light window
    // keeps the light on for as long as a person leaves it on.
    if (job && !link.anyDuring(on, off) && off - on > kLightLimitMs + kLightMarginMs) {
        return Broken{"light-within-limit",
                      fmt("the light was on %.0f ms from %.0f ms (limit %.0f ms and its margin)",
                          off - on, on, kLightLimitMs),
                      off};
    }
    if (!job) return std::nullopt;
    // The first moment within the span that the firmware's reading was hot:
    // the settle wait lights the light even on a hot reading, and the
    // exposure's check turns it off.
    std::optional<double> hotAt;
    const Reading* before = nullptr;
    for (const Reading& r : readings) {
        if (r.t_ms <= on) {
            before = &r;
            continue;
        }
        if (r.t_ms >= off) break;
        if (hot(r.celsius)) {
            hotAt = r.t_ms;
            break;
        }
    }
    if (before != nullptr && hot(before->celsius)) hotAt = on;
    if (!hotAt || link.anyDuring(*hotAt, *hotAt + kHotLightOffMs)) return std::nullopt;
    if (off - *hotAt > kHotLightOffMs) {
        return Broken{"light-off-when-hot",
                      fmt("the light stayed on %.0f ms after a reading above 100 °C or a failed "
                          "sensor at %.0f ms (bound %.0f ms)",
                          off - *hotAt, *hotAt, kHotLightOffMs),
                      *hotAt + kHotLightOffMs};
    }
    return std::nullopt;
}

std::optional<Broken> judgeJobStart(const json& job) {
    const int reading = job["reading"];
    if (job["material_test"] == true) return std::nullopt;
    if (reading > kStartHotC || reading <= -10) {
        return Broken{
            "cool-start",
            fmt("a job started at %.0f ms on a reading of %.0f °C", job["start_ms"], reading),
            job["start_ms"]};
    }
    return std::nullopt;
}

std::string beyondLimits(const std::string& file) {
    if (file.size() < PRINT_HEADER_SIZE ||
        std::memcmp(file.data(), PRINT_FILE_MAGIC, PRINT_FILE_MAGIC_SIZE) != 0) {
        return "";
    }
    PrintParameter p;
    std::memcpy(&p, file.data() + PRINT_FILE_MAGIC_SIZE, sizeof p);
    recomputeBottomLayers(p);
    applyReadAdjustments(p);
    const auto named = [](const char* field, double v) {
        char text[96];
        snprintf(text, sizeof text, "%s %.6g", field, v);
        return std::string(text);
    };
    const double z = p.ZThick;
    if (!std::isfinite(z) || z < kLayerMinMm - 1e-6 || z > kLayerMaxMm + 1e-4) {
        return named("ZThick", z);
    }
    if (p.layer_count < 0 || p.layer_count > kLayersMax) return named("layer_count", p.layer_count);
    const std::pair<const char*, float> times[] = {{"curing_time", p.curing_time},
                                                   {"burnin_time", p.burnin_time},
                                                   {"stable_time", p.stable_time},
                                                   {"b_stable_time", p.b_stable_time}};
    for (const auto& [field, ms] : times) {
        if (!std::isfinite(ms) || ms < -1e-3 || ms > kLightLimitMs + 1) return named(field, ms);
    }
    const std::pair<const char*, float> lifts[] = {{"lift_distance1", p.lift_distance1},
                                                   {"lift_distance2", p.lift_distance2}};
    for (const auto& [field, mm] : lifts) {
        if (!std::isfinite(mm) || mm < -1e-6 || mm > kZTravelMm + 1e-3) return named(field, mm);
    }
    const std::pair<const char*, float> feeds[] = {{"lift_speed1", p.lift_speed1},
                                                   {"lift_speed2", p.lift_speed2},
                                                   {"drop_speed", p.drop_speed}};
    for (const auto& [field, feed] : feeds) {
        if (!std::isfinite(feed) || feed < kFeedMin - 1e-3 || feed > kFeedMax + 1e-3) {
            return named(field, feed);
        }
    }
    // The highest lift: each layer nets its thickness, the last adds both
    // lifts. A motion line rounds each move to six decimals and a float sum
    // of a long lift and a layer to a few micrometres: a margin for both.
    const double n = p.layer_count;
    const double top = n == 0 ? 0 : n * z + p.lift_distance1 + p.lift_distance2;
    if (top > kZTravelMm + 0.01 + n * 3e-5) return named("highest lift", top);
    return "";
}

std::optional<Broken> judgeRefusedJob(const json& job, const std::string& beyond, int printStatus,
                                      const std::vector<double>& lightOns, double now_ms) {
    const double from = job["start_ms"];
    const bool open = job["end_ms"].is_null();
    const double to = open ? now_ms : job["end_ms"].get<double>();
    const std::string what = "a job from " + job["file"].get<std::string>() + " (" + beyond +
                             ", beyond the machine's limits) ";
    for (const double on : lightOns) {
        if (on >= from && on <= to) {
            return Broken{"beyond-limits-refused", what + fmt("lit the light at %.0f ms", on), on};
        }
    }
    // Running or pausing: states only a job past its header check reaches.
    if (open && printStatus >= PRINT_RUNNING && printStatus <= PRINT_PAUSING) {
        return Broken{"beyond-limits-refused", what + "is running", now_ms};
    }
    if (!open && job["layers"].get<int>() > 0) {
        return Broken{"beyond-limits-refused",
                      what + fmt("exposed %.0f layers", job["layers"].get<double>()), to};
    }
    return std::nullopt;
}

std::optional<Broken> judgeRequestAnswer(const std::string& request, int status, bool jobAlive,
                                         double now_ms) {
    if (jobAlive || status != 200) return std::nullopt;
    return Broken{"request-needs-job",
                  "the print hook took a " + request + " request with no job alive", now_ms};
}

std::optional<Broken> judgeZ(const json& board, const FaultTimes& link, double now_ms) {
    if (!board["z_known"].get<bool>() || link.ever()) return std::nullopt;
    const double lo = board["z_known_lowest"], hi = board["z_known_highest"];
    if (lo < -1e-6 || hi > kZTravelMm + 1e-6) {
        return Broken{
            "z-inside-travel",
            fmt("the board was sent Z from %.3f to %.3f mm (travel 0 to %.0f)", lo, hi, kZTravelMm),
            now_ms};
    }
    return std::nullopt;
}

std::optional<Broken> judgeCounters(const json& state, double now_ms) {
    if (state["spi_select_faults"] != 0) {
        return Broken{"panel-bus", "a transfer on the panel's bus had no chip or both selected",
                      now_ms};
    }
    if (state["readonly_violations"] != 0) {
        return Broken{"stick-read-only", "the stick changed while mounted read-only", now_ms};
    }
    return std::nullopt;
}

int windowAfterTap(int window, int x, int y, bool usbDetected) {
    // Every reading of the tap on the button: the corners of the square of
    // the readings inside it.
    const auto at = [&](const PicRecord& r) {
        const auto in = [&](int px, int py) {
            return px >= 0 && py >= 0 &&
                   hit(r, static_cast<uint16_t>(px), static_cast<uint16_t>(py));
        };
        return in(x - kTouchReadPx, y - kTouchReadPx) && in(x + kTouchReadPx, y + kTouchReadPx);
    };
    switch (window) {
        case INDEX_WINDOW_HOME:
            if (at(pic_homepagebuttonsetting)) return INDEX_WINDOW_SETTING;
            if (at(pic_homepagebuttonfile) && usbDetected) return INDEX_WINDOW_FILE;
            return -1;
        case INDEX_WINDOW_SETTING:
            if (at(pic_settingpagebuttonsettingpageback)) return INDEX_WINDOW_HOME;
            if (at(pic_settingpagebuttonmove)) return INDEX_WINDOW_MOVE;
            if (at(pic_settingpagebuttonled)) return INDEX_WINDOW_LED;
            if (at(pic_settingpagebuttonmore)) return INDEX_WINDOW_ABOUT;
            return -1;
        case INDEX_WINDOW_ABOUT: return at(pic_aboutpagereturn) ? INDEX_WINDOW_SETTING : -1;
        case INDEX_WINDOW_MORE: return at(pic_morepagereturn) ? INDEX_WINDOW_ABOUT : -1;
        default: return -1;
    }
}

std::optional<Broken> judgeFiles(std::map<std::string, std::string>& expected,
                                 const std::map<std::string, std::string>& actual, bool saved,
                                 bool previewHere, const std::string& previewName, double now_ms,
                                 const std::string& where) {
    auto broken = [&](const std::string& why) {
        return Broken{"files-intact", where + ": " + why, now_ms};
    };
    for (const auto& [name, bytes] : expected) {
        if (actual.find(name) == actual.end()) return broken(name + " is gone");
    }
    for (const auto& [name, bytes] : actual) {
        const auto want = expected.find(name);
        if (want == expected.end()) return broken(name + " appeared");
        if (want->second == bytes) continue;
        const std::string& was = want->second;
        if (was.size() != bytes.size()) return broken(name + " changed its size");
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != was[i] && (i < PRINT_FILE_MAGIC_SIZE || i >= PRINT_HEADER_SIZE)) {
                return broken(name + " changed at byte " + std::to_string(i) +
                              ", outside its parameter block");
            }
        }
        if (!saved) return broken(name + "'s parameter block changed without a save");
        if (!previewHere || name != previewName) {
            return broken(name + "'s parameter block was written, not the previewed file's (" +
                          previewName + ")");
        }
        PrintParameter block;
        std::memcpy(&block, bytes.data() + PRINT_FILE_MAGIC_SIZE, sizeof block);
        if (const char* why = printBlockRefusal(block); why != nullptr) {
            return broken(name + ": a save wrote a block the printer refuses: " + why);
        }
        const EnvelopeVerdict v = judgePrintParameters(block);
        if (!v.inside) return broken(name + ": a save wrote " + v.reason);
        want->second = bytes;
    }
    return std::nullopt;
}

}  // namespace campaign
