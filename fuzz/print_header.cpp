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

#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "firmware/ui/parameter_table.h"
#include "job_motion.h"

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
    PrintParameter asRun = block;
    recomputeBottomLayers(asRun);
    applyReadAdjustments(asRun);
    if (judgePrintParameters(block).inside) fuzz_model::runJobMotion(asRun);
    bindParameterAll(block);
    for (const ParameterEntry& e : ParameterAll) {
        if (!(*e.value >= e.min)) __builtin_trap();
    }
    return 0;
}
