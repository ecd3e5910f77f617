// The print-file head reader on any bytes: a refusal or a block whose sizes
// and values are safe to use, and an estimate that is always defined. A block
// the envelope accepts is run, line by line as the sequencer would send it
// and parsed back as the board would read it: no exposure or wait beyond the
// longest, no feed outside the board's, no line longer than the link's and
// no point of the job outside the Z travel.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "print/print_file.h"
#include "print/print_time.h"
#include "print/safety_envelope.h"
#include "ui/parameter_table.h"

namespace {

// What the board would read back from a motion line.
double sent(bool down, float distance, float feed) {
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

void runAccepted(const PrintParameter& stored) {
    PrintParameter p = stored;
    recomputeBottomLayers(p);
    applyReadAdjustments(p);
    if (!judgePrintParameters(stored).inside) return;
    for (float t : {p.curing_time, p.burnin_time, p.stable_time, p.b_stable_time}) {
        if (!(t >= 0 && t <= ENVELOPE_TIME_MAX_MS)) __builtin_trap();
    }
    if (!(p.ZThick >= ENVELOPE_LAYER_MIN_MM && p.ZThick <= ENVELOPE_LAYER_MAX_MM)) __builtin_trap();
    if (p.layer_count < 0 || p.layer_count > ENVELOPE_LAYERS_MAX) __builtin_trap();
    const double up1 = sent(false, p.lift_distance1, p.lift_speed1);
    const double up2 = sent(false, p.lift_distance2 + p.ZThick, p.lift_speed2);
    const double down = sent(true, p.lift_distance1 + p.lift_distance2, p.drop_speed);
    constexpr double kSlack = 1e-5;
    double z = 0;
    for (int32_t layer = 0; layer < p.layer_count; ++layer) {
        for (double step : {up1, up2, down}) {
            z += step;
            if (z < -kSlack || z > ENVELOPE_Z_TRAVEL_MM + kSlack) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (fp == nullptr) return 0;
    static uint8_t thumb[PREVIEW_THUMB_BYTES];
    PrintParameter block{};
    const char* message = nullptr;
    const int result = readPrintHeader(fp, block, thumb, &message);
    const long consumed = ftell(fp);
    fclose(fp);
    if (result != PRINT_FILE_OK) {
        if (message == nullptr) __builtin_trap();
        return 0;
    }
    const uint32_t thumbBytes = thumbnailBytes(block);
    if (thumbBytes > PREVIEW_THUMB_BYTES || block.layer_count < 0 || block.ZThick == 0.0f)
        __builtin_trap();
    if (consumed != static_cast<long>(PRINT_HEADER_SIZE + thumbBytes)) __builtin_trap();
    recomputeBottomLayers(block);
    (void)printTimeEstimate(block);
    (void)layerBufferCapacity(block);
    runAccepted(block);
    bindParameterAll(block);
    for (const ParameterEntry& e : ParameterAll) {
        if (!(*e.value >= e.min)) __builtin_trap();
    }
    return 0;
}
