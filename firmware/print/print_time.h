// Print-time figures: the estimate a file's parameters give, and the
// count-up, count-down, layer counter and percentage of the printing window.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>

struct PrintParameter;

extern uint32_t print_total_time;      // s, the count-down's working total
extern uint8_t adjustprinttimestatue;  // 1: the next multiple of 50 re-estimates
// The count-up and the count-down; hours beyond 9999 show as 9999:59:59 and
// 9999 H 59 M, the most their boxes hold. Atomics: the simulator's control
// server reads them.
extern std::atomic<uint16_t> cp_time_hours;
extern std::atomic<uint8_t> cp_time_minutes, cp_time_seconds;
extern std::atomic<uint16_t> Remaining_hours;
extern std::atomic<uint8_t> Remaining_minutes;
extern int32_t pre_paused_get_time;
extern timeval tv3;  // the last refresh in a paused state

// Total time of a print in ms: per layer the wait, both lifts up and back and
// one layer's rise, plus the exposures. bottom_layers must be recomputed.
uint32_t printTimeEstimate(const PrintParameter& p);

// Sets file_information.print_times from printparameter.
void actPrintTimeCalculate();
uint32_t getPrintTotalTime();
uint16_t getPrintedLayers();
uint16_t getTotalLayers();

// One refresh of the printing window, in this order: the figures from the
// previous refresh's elapsed time, then the elapsed time for `status`.
void calcCountUpTime();
void calcCountDownTime();
void refreshElapsedTime(int status);
// Percent done from the layer counters (0 for a job of no layers).
uint8_t calcProgress();
// The bookkeeping of a finished job is reset when the window shows it.
void resetElapsedTime();
