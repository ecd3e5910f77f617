// A model of a job's motion, for targets that read print files: the values a
// job runs with, once accepted, sent line by line as the sequencer sends them
// and read back as the board reads them. Traps on an exposure or wait beyond
// the longest, a feed outside the board's, a line longer than the link's or a
// point of the job outside the Z travel.
#pragma once

#include <cstdint>
#include <cstdio>

#include "firmware/print/print_file.h"
#include "firmware/print/safety_envelope.h"

namespace fuzz_model {

// The distance the board reads from a motion line.
inline double sentMove(bool down, float distance, float feed) {
    char line[kLineSize];
    const int n = formatMotionLine(line, down, distance, feed);
    if (n < 0 || n > kLineSize - 2) __builtin_trap();
    double z = 0;
    double f = 0;
    if (sscanf(line, "G1 Z%lf F%lf", &z, &f) != 2) __builtin_trap();
    if (!(f >= ENVELOPE_FEED_MIN - 1e-3 && f <= ENVELOPE_FEED_MAX + 1e-3)) __builtin_trap();
    if (down != (z < 0) && z != 0) __builtin_trap();
    return z;
}

// `p` as the job runs it (after the read adjustments).
inline void runJobMotion(const PrintParameter& p) {
    for (float t : {p.curing_time, p.burnin_time, p.stable_time, p.b_stable_time}) {
        if (!(t >= 0 && t <= ENVELOPE_TIME_MAX_MS)) __builtin_trap();
    }
    if (!(p.ZThick >= ENVELOPE_LAYER_MIN_MM && p.ZThick <= ENVELOPE_LAYER_MAX_MM)) __builtin_trap();
    if (p.layer_count < 0 || p.layer_count > ENVELOPE_LAYERS_MAX) __builtin_trap();
    const double up1 = sentMove(false, p.lift_distance1, p.lift_speed1);
    const double up2 = sentMove(false, p.lift_distance2 + p.ZThick, p.lift_speed2);
    const double down = sentMove(true, p.lift_distance1 + p.lift_distance2, p.drop_speed);
    constexpr double kSlack = 1e-5;
    double z = 0;
    for (int32_t layer = 0; layer < p.layer_count; ++layer) {
        for (double step : {up1, up2, down}) {
            z += step;
            if (z < -kSlack || z > ENVELOPE_Z_TRAVEL_MM + kSlack) __builtin_trap();
        }
    }
}

}  // namespace fuzz_model
