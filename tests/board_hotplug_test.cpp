// The board back end's hot-plug socket against the running kernel. It needs
// netlink and, to make an event, root: where either is missing it is skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "firmware/platform/platform.h"

namespace {

TEST(BoardHotplug, ReceivesTheKernelsAddEvent) {
    const int sock = platformHotplugOpen();
    if (sock < 0) GTEST_SKIP() << "no kernel-object event socket here: " << strerror(errno);
    if (platformHotplugBind(sock) != 0) {
        close(sock);
        GTEST_SKIP() << "cannot join the kernel's event group here: " << strerror(errno);
    }
    // Writing an action into a device's uevent file makes the kernel announce it.
    const int uevent = open("/sys/class/mem/null/uevent", O_WRONLY);
    if (uevent < 0 || write(uevent, "add", 3) != 3) {
        if (uevent >= 0) close(uevent);
        close(sock);
        GTEST_SKIP() << "cannot trigger a device event here (needs root and a writable /sys)";
    }
    close(uevent);
    std::string got;
    for (int i = 0; i < 20 && got.rfind("add@", 0) != 0; ++i) {
        pollfd p{sock, POLLIN, 0};
        if (poll(&p, 1, 100) != 1) continue;
        char buf[4096] = {};
        const ssize_t n = recv(sock, buf, sizeof buf - 1, 0);
        if (n > 0) got.assign(buf);
    }
    close(sock);
    if (got.empty()) GTEST_SKIP() << "no events reach this sandbox";
    EXPECT_EQ(got.rfind("add@", 0), 0u) << got;
    EXPECT_NE(got.find("null"), std::string::npos) << got;
}

}  // namespace
