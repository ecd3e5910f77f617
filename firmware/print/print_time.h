// The print-time estimate a file's parameters give.
#pragma once

#include <cstdint>

struct PrintParameter;

// Total time of a print in ms: per layer the wait, both lifts up and back and
// one layer's rise, plus the exposures. bottom_layers must be recomputed.
uint32_t printTimeEstimate(const PrintParameter& p);

// Sets file_information.print_times from printparameter.
void actPrintTimeCalculate();
uint32_t getPrintTotalTime();
