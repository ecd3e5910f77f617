// Board back end of the platform seam: the real device, no mapping.
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

void platformStart(int, char**) {}

std::string sysPath(const char* devicePath) {
    return devicePath;
}

int platformShell(const char* command) {
    return std::system(command);
}

int64_t platformMonotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int platformSleepUs(int64_t us) {
    if (us <= 0) return 0;
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    return nanosleep(&ts, nullptr) == 0 ? 0 : -1;
}

int platformWaitReadable(int fd, int64_t us) {
    if (us < 0) us = 0;
    pollfd p{fd, POLLIN, 0};
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    return ppoll(&p, 1, &ts, nullptr);
}
