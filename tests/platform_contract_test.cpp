// What every back end of the platform seam guarantees, run against each: the
// simulator's in unit_tests, the board's in board_tests. Only the seam's own
// calls are used, and nothing that would touch the real panel's lines.
//
// This file is linked first into both programs, so its tests run before any
// other test maps the port controller (ctest also runs each test alone).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include "firmware/platform/platform.h"

namespace {

TEST(PlatformContract, GpioBeforeMappingReadsAllOnesAndDropsWrites) {
    if (GTEST_FLAG_GET(shuffle)) GTEST_SKIP() << "needs to run before any test maps the block";
    constexpr uint32_t kDataRegister = 0x10;  // port A's data register
    EXPECT_EQ(platformGpioRead(kDataRegister), 0xFFFFFFFFu);
    platformGpioWrite(kDataRegister, 0);
    EXPECT_EQ(platformGpioRead(kDataRegister), 0xFFFFFFFFu);
}

TEST(PlatformContract, TimeNeverGoesBackwardsInOneThreadOrAcrossThreads) {
    const auto watch = [] {
        int64_t last = platformMonotonicUs();
        for (int i = 0; i < 20000; ++i) {
            const int64_t now = platformMonotonicUs();
            if (now < last) return false;
            last = now;
        }
        return true;
    };
    bool other = false;
    std::thread t([&] { other = watch(); });
    const bool mine = watch();
    t.join();
    EXPECT_TRUE(mine);
    EXPECT_TRUE(other);
}

TEST(PlatformContract, SleepsAdvanceTheClockByAtLeastTheirLengthAndZeroReturnsAtOnce) {
    EXPECT_EQ(platformSleepUs(0), 0);
    EXPECT_EQ(platformSleepUs(-5), 0);
    for (int64_t us : {1, 150, 2000}) {
        const int64_t before = platformMonotonicUs();
        EXPECT_EQ(platformSleepUs(us), 0);
        EXPECT_GE(platformMonotonicUs() - before, us) << us << " us";
    }
}

TEST(PlatformContract, ATimedWaitOnAPipeTimesOutThenSeesTheByte) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const int64_t before = platformMonotonicUs();
    EXPECT_EQ(platformWaitReadable(p[0], 1000), 0);
    EXPECT_GE(platformMonotonicUs() - before, 1000);
    EXPECT_EQ(platformWaitReadable(p[0], -1), 0);
    ASSERT_EQ(platformSerialWrite(p[1], "x", 1), 1);
    EXPECT_EQ(platformWaitReadable(p[0], 1000), 1);
    EXPECT_EQ(platformWaitReadable(p[0], 0), 1);
    close(p[0]);
    close(p[1]);
}

TEST(PlatformContract, CallsOnADescriptorThatIsNotOpenFail) {
    // Above any descriptor limit, so never open (a closed number may be reused).
    const int fd = 1 << 24;
    errno = 0;
    EXPECT_EQ(platformWaitReadable(fd, 0), -1);
    EXPECT_EQ(errno, EBADF);
    uint8_t mode = 0;
    uint8_t byte = 0;
    EXPECT_EQ(platformSpiIoctl(fd, SPI_IOC_RD_MODE, &mode), -1);
    EXPECT_EQ(platformSpiWrite(fd, &byte, 1), -1);
    EXPECT_EQ(platformSpiRead(fd, &byte, 1), -1);
    errno = 0;
    EXPECT_EQ(platformSerialWrite(fd, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    FbScreenInfo info{};
    EXPECT_EQ(platformFbScreenInfo(fd, info), 2);
}

TEST(PlatformContract, ADevicePathMapsToAPathEndingInIt) {
    const std::string p = sysPath("/opt/usb");
    ASSERT_GE(p.size(), 8u);
    EXPECT_EQ(p.substr(p.size() - 8), "/opt/usb");
}

TEST(PlatformContract, AStartedThreadRunsAndTheLockExcludes) {
    struct Shared {
        PlatformMutex lock;
        int count = 0;
        int done[2];  // each thread writes a byte when it is through
    } shared;
    ASSERT_EQ(pipe(shared.done), 0);
    const auto body = [](void* arg) -> void* {
        auto& s = *static_cast<Shared*>(arg);
        for (int i = 0; i < 10000; ++i) {
            std::lock_guard<PlatformMutex> hold(s.lock);
            ++s.count;
            if (i % 1000 == 0) platformSleepUs(10);  // a wait inside the lock
        }
        (void)!write(s.done[1], "x", 1);
        return nullptr;
    };
    pthread_t threads[2];
    for (pthread_t& t : threads) ASSERT_EQ(platformThreadStart(&t, "contract", body, &shared), 0);
    // Waited for through the seam: a thread blocked outside it would hold
    // the simulator's clock.
    char c;
    for (int seen = 0; seen < 2; ++seen) {
        ASSERT_EQ(platformWaitReadable(shared.done[0], 60000000), 1);
        ASSERT_EQ(read(shared.done[0], &c, 1), 1);
    }
    for (pthread_t& t : threads) pthread_join(t, nullptr);
    EXPECT_EQ(shared.count, 20000);
    close(shared.done[0]);
    close(shared.done[1]);
}

TEST(PlatformContract, TheHotplugReceiveTakesOneMessage) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(send(pair[1], "add@/block/sda", 14, 0), 14);
    ASSERT_EQ(send(pair[1], "remove@/block/sda", 17, 0), 17);
    char buf[64] = {};
    EXPECT_EQ(platformHotplugReceive(pair[0], buf, sizeof buf - 1), 14);
    EXPECT_STREQ(buf, "add@/block/sda");
    close(pair[0]);
    close(pair[1]);
    errno = 0;
    EXPECT_EQ(platformHotplugReceive(pair[0], buf, sizeof buf), -1);
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
