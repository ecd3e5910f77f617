#include "ui/parameter_table.h"

#include "print/print_file.h"

ParameterEntry ParameterAll[PARAMETER_COUNT] = {
    {0, 1000, 100, 100, 99900, nullptr, 0, "Curing Time"},
    {0, 1000, 100, 100, 99900, nullptr, 0, "Burn-in Time"},
    {0, 1000, 100, 0, 99900, nullptr, 0, "Stable Time"},
    {1, 1, 0.1f, 0.1f, 9.9f, nullptr, 0, "Burn-in Range"},
    {0, 1000, 100, 0, 99900, nullptr, 0, "B.Stable Time"},
    {0, 10, 1, 10, 300, nullptr, 0, "Drop Speed"},
    {1, 1, 0.1f, 0.1f, 9.9f, nullptr, 0, "Lift Distantce1"},
    {0, 10, 1, 10, 300, nullptr, 0, "Lift Speed1"},
    {1, 1, 0.1f, 0, 9.9f, nullptr, 0, "Lift Distance2"},
    {0, 10, 1, 10, 300, nullptr, 0, "Lift Speed2"},
};

namespace {
// The field each row edits, in row order.
constexpr float PrintParameter::*kRowFields[PARAMETER_COUNT] = {
    &PrintParameter::curing_time,    &PrintParameter::burnin_time,
    &PrintParameter::stable_time,    &PrintParameter::burnin_range,
    &PrintParameter::b_stable_time,  &PrintParameter::drop_speed,
    &PrintParameter::lift_distance1, &PrintParameter::lift_speed1,
    &PrintParameter::lift_distance2, &PrintParameter::lift_speed2,
};
}  // namespace

void applyReadAdjustments(PrintParameter& p) {
    if (p.drop_speed < 1) p.drop_speed = p.lift_speed2;
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        float& value = p.*kRowFields[i];
        if (value < ParameterAll[i].min) value = ParameterAll[i].min;
    }
}

void bindParameterAll(PrintParameter& p) {
    for (int i = 0; i < PARAMETER_COUNT; ++i) ParameterAll[i].value = &(p.*kRowFields[i]);
    applyReadAdjustments(p);
    for (ParameterEntry& e : ParameterAll) e.reference = *e.value;
}
