#include "print/print_time.h"

#include <algorithm>
#include <cstdio>

#include "app/global_data.h"
#include "app/global_func.h"
#include "print/material_test.h"
#include "print/print.h"
#include "print/print_file.h"

uint32_t print_total_time = 0;
uint8_t adjustprinttimestatue = 1;
std::atomic<uint16_t> cp_time_hours{0};
std::atomic<uint8_t> cp_time_minutes{0}, cp_time_seconds{0};
std::atomic<uint16_t> Remaining_hours{0};
std::atomic<uint8_t> Remaining_minutes{0};
int32_t pre_paused_get_time = 0;
timeval tv3{};

uint32_t printTimeEstimate(const PrintParameter& p) {
    // Each lift is travelled up and back at its own speed; float arithmetic
    // and truncations in the order the panel's figure has always used.
    const float perLayer = p.stable_time + p.lift_distance1 * 120000 / p.lift_speed1 +
                           p.lift_distance2 * 120000 / p.lift_speed2 +
                           p.ZThick * 60000 / p.lift_speed2;
    // Saturated, not wrapped: a long print must not read as a short one.
    const uint64_t allLayers =
        uint64_t{floatToU32(perLayer)} * static_cast<uint32_t>(std::max(p.layer_count, 0));
    uint32_t t = static_cast<uint32_t>(std::min<uint64_t>(allLayers, UINT32_MAX));
    t = floatToU32(static_cast<float>(t) + p.burnin_time * p.bottom_layers);
    t = floatToU32(static_cast<float>(t) +
                   p.curing_time * (static_cast<float>(p.layer_count) - p.bottom_layers));
    return t;
}

void actPrintTimeCalculate() {
    file_information.print_times = printTimeEstimate(printparameter);
}

uint32_t getPrintTotalTime() {
    return file_information.print_times;
}

uint16_t getPrintedLayers() {
    return file_information.current_layer;
}

uint16_t getTotalLayers() {
    if (getMaterialTest() == 0) {
        file_information.total_layer = static_cast<uint16_t>(printparameter.layer_count);
    }
    return file_information.total_layer;
}

namespace {
// The most the printing window's boxes show: "9999 H 59 M", "9999:59:59".
constexpr uint32_t kShownHoursMax = 9999;
}  // namespace

void calcCountUpTime() {
    const uint32_t e =
        std::min<uint32_t>(file_information.elapsed_time, kShownHoursMax * 3600 + 3599);
    cp_time_hours = static_cast<uint16_t>(e / 3600);
    cp_time_minutes = static_cast<uint8_t>(e % 3600 / 60);
    cp_time_seconds = static_cast<uint8_t>(e % 60);
}

void calcCountDownTime() {
    const uint32_t layer = getPrintedLayers();
    const uint32_t total = getTotalLayers();
    const uint32_t elapsed = file_information.elapsed_time;
    if (layer < 50) print_total_time = file_information.print_times / 1000;
    if (layer % 50 == 0 && layer != 0 && adjustprinttimestatue == 1) {
        adjustprinttimestatue = 0;
        // In 64 bits: 18 h at 65,535 layers already pass 32.
        print_total_time = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{elapsed} * total / layer, UINT32_MAX));
    }
    if (layer % 50 != 0) adjustprinttimestatue = 1;
    const uint32_t left =
        std::min<uint32_t>(elapsed <= print_total_time ? (print_total_time - elapsed) / 60 : 0,
                           kShownHoursMax * 60 + 59);
    Remaining_hours = static_cast<uint16_t>(left / 60);
    Remaining_minutes = static_cast<uint8_t>(left % 60);
}

void refreshElapsedTime(int status) {
    switch (status) {
        case PRINT_RUNNING:
        case PRINT_PAUSING:
        case PRINT_TEMP_PAUSING: {
            tv2 = monotonicTimeval();
            const int32_t since = static_cast<int32_t>(tv2.tv_sec) - pre_get_time;
            printf("pre_get_time2 - pre_get_time = %d \n", since);
            if (paused_get_time != 0) {
                total_paused_get_time += paused_get_time;
                paused_get_time = 0;
            }
            printf("total_paused_get_time = %d \n", total_paused_get_time.load());
            file_information.elapsed_time = static_cast<uint32_t>(since - total_paused_get_time);
            break;
        }
        case PRINT_PAUSED:
        case PRINT_TEMP_PAUSED:
            tv3 = monotonicTimeval();
            paused_get_time = static_cast<int32_t>(tv3.tv_sec - tv2.tv_sec);
            break;
        default: break;
    }
}

uint8_t calcProgress() {
    const uint32_t total = file_information.total_layer;
    const uint8_t progress =
        total == 0 ? 0 : static_cast<uint8_t>(file_information.current_layer * 100u / total);
    file_information.progress = progress;
    return progress;
}

void resetElapsedTime() {
    pre_get_time = 0;
    paused_get_time = 0;
    pre_paused_get_time = 0;
    total_paused_get_time = 0;
}
