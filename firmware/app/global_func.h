// Start-up, the main loop and the helpers every module uses.
#pragma once

#include <sys/time.h>

#include <cstdint>

// Sleeps `ms` milliseconds. 0, or -1 when a signal ended the wait early.
int msleep(int32_t ms);

// The monotonic clock as a time value (seconds and microseconds).
timeval monotonicTimeval();

// Milliseconds from a time taken with monotonicTimeval() until now.
uint32_t timeElapsed(int64_t sec, int64_t usec);

// Initialises the five mutexes. They need no run-time set-up; kept as the
// point in start-up where the locks come into use.
void MutexInit();

// Entry of the print thread: a print or a material test, then the thread ends.
void* PrintTask(void* arg);

// Second half of start-up followed by the endless main loop.
[[noreturn]] void main1(int argc, char** argv);

// The start-up steps before the main loop that main1 runs. Returns 0, or
// non-zero when the exposure screen failed and the firmware has to halt.
int startUp();

// One pass of the main loop with pass counter `n`; returns the next counter.
uint32_t mainLoopPass(uint32_t n);

// Starts the print thread if a window asked for one.
void startRequestedPrint();
