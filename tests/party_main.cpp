// The test program's main thread is a party of the virtual clock, as the
// firmware's main thread is in printer-sim: firmware time stands still while
// a test computes and moves only when the test and the threads it started
// all wait.
#include <gtest/gtest.h>

#include "sim/clock/virtual_clock.h"

int main(int argc, char** argv) {
#ifdef PARTIES_AS_FIBERS
    // The threads the tests start run as fibers on this one.
    sim::ClockSettings settings;
    settings.schedule = sim::Schedule::Fibers;
    sim::clock().configure(settings);
#endif
    sim::clock().joinCallingThread("test-main");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
