// The serial line to the motion board: open, configure, raw reads and writes.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>

extern std::atomic<int> s_fd;  // the open port; -1 when there is none
extern int s_se;               // -1 not configured, 1 configured

// Opens and configures the port once; failures are only logged.
void SerialCtrlInit();

// Applies line settings. 0 on success, -1 on failure.
int set_opt(int fd, int32_t nSpeed, int nBits, char nEvent, int nStop);

// Discards unread input and unsent output, writes `len` bytes in one call,
// then waits 10 ms. 1 if the write did not fail, -1 if it failed.
int sendDataTty(int fd, const char* data, int len);

// The whole-call budget of a read, split as seconds and microseconds.
timeval readBudget(int ms);

// Reads up to `max` bytes, one per read call, within a budget of `ms`
// milliseconds for the whole call. Returns the count; does not terminate.
int readDataTty(int fd, char* buf, int ms, int max);

// readDataTty on the open port; -1 at once when there is none.
int readSerialData(char* buf, int ms, int max);
