#include "print/print_time.h"

#include "print/print.h"
#include "print/print_file.h"

uint32_t printTimeEstimate(const PrintParameter& p) {
    // Each lift is travelled up and back at its own speed; float arithmetic
    // and truncations in the order the panel's figure has always used.
    const float perLayer = p.stable_time + p.lift_distance1 * 120000 / p.lift_speed1 +
                           p.lift_distance2 * 120000 / p.lift_speed2 +
                           p.ZThick * 60000 / p.lift_speed2;
    const uint32_t layers = static_cast<uint32_t>(p.layer_count);
    uint32_t t = floatToU32(perLayer) * layers;
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
