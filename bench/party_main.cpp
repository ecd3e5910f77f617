// The benchmark's thread is a party of the virtual clock, as the firmware's
// main thread is in printer-sim: its waits cost no real time.
#include <benchmark/benchmark.h>

#include "sim/clock/virtual_clock.h"

int main(int argc, char** argv) {
    sim::clock().joinCallingThread("bench-main");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
