// The ten print parameters the panel edits, bound into printparameter.
#pragma once

#include <cstdint>

struct PrintParameter;

struct ParameterEntry {
    int32_t kind;  // 0 whole numbers ("%.0f"), 1 one decimal ("%.1f")
    float big_step;
    float small_step;
    float min;
    float max;
    float* value;     // the printparameter field the row edits
    float reference;  // the value at the last read, apply or save
    char label[64];
};

constexpr int PARAMETER_COUNT = 10;
extern ParameterEntry ParameterAll[PARAMETER_COUNT];

// What every read does to a block: lift_speed2 for a drop_speed below 1, and
// values below their row's minimum raised to it.
void applyReadAdjustments(PrintParameter& p);

// Binds the rows to `p`, applies the read adjustments and records every value
// as the reference.
void bindParameterAll(PrintParameter& p);
