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

void bindParameterAll(PrintParameter& p) {
    float* const fields[PARAMETER_COUNT] = {
        &p.curing_time, &p.burnin_time,    &p.stable_time, &p.burnin_range,   &p.b_stable_time,
        &p.drop_speed,  &p.lift_distance1, &p.lift_speed1, &p.lift_distance2, &p.lift_speed2,
    };
    for (int i = 0; i < PARAMETER_COUNT; ++i) ParameterAll[i].value = fields[i];
    if (p.drop_speed < 1) p.drop_speed = p.lift_speed2;
    for (ParameterEntry& e : ParameterAll) {
        if (*e.value < e.min) *e.value = e.min;
        e.reference = *e.value;
    }
}
