// The readiness wait both back ends of the seam share.
#pragma once

#include <poll.h>
#include <time.h>

#include <cerrno>

// ppoll() for input on one descriptor, with the seam's results: 1 readable,
// 0 time-out, -1 error. poll() reports a descriptor that is not open as an
// event; here it is the error it is (EBADF).
inline int pollReadable(int fd, const timespec& timeout) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ppoll(&p, 1, &timeout, nullptr);
    if (ready == 1 && (p.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return ready;
}
