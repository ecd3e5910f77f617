#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "firmware/link/command.h"
#include "firmware/link/serial.h"
#include "firmware/platform/platform.h"
#include "serial_fixture.h"
#include "sim/clock/virtual_clock.h"

namespace {

using SerialPort = SerialFixture;

termios applied(int fd, int32_t baud, int bits, char parity, int stop) {
    EXPECT_EQ(set_opt(fd, baud, bits, parity, stop), 0);
    termios t{};
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    return t;
}

TEST_F(SerialPort, Starts115200With8N1AndNonBlockingReads) {
    termios t{};
    ASSERT_EQ(tcgetattr(s_fd, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialPort, UnknownSpeedsFallBackTo9600) {
    // Each entry differs from the one before, so a setting that is not applied shows.
    const std::pair<int32_t, speed_t> table[] = {
        {2400, B2400},  {4800, B4800},     {9600, B9600}, {115200, B115200},
        {57600, B9600}, {460800, B460800}, {0, B9600},
    };
    for (const auto& [baud, want] : table) {
        const termios t = applied(pty_.slave, baud, 8, 'N', 1);
        EXPECT_EQ(cfgetospeed(&t), want) << baud;
        EXPECT_EQ(cfgetispeed(&t), want) << baud;
    }
}

// A pty forces CS8 and clears PARENB whatever is asked, so only the flags it
// keeps can be checked here.
TEST_F(SerialPort, ParityAndStopBitsAreApplied) {
    termios t = applied(pty_.slave, 9600, 7, 'O', 2);
    EXPECT_NE(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP), static_cast<tcflag_t>(INPCK | ISTRIP));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);

    t = applied(pty_.slave, 9600, 8, 'E', 1);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP), static_cast<tcflag_t>(INPCK | ISTRIP));

    t = applied(pty_.slave, 9600, 8, 'N', 1);
    EXPECT_EQ(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP), 0u);
}

TEST_F(SerialPort, ReadTakesTheReplyThenSpendsTheWholeBudget) {
    const std::string reply = "ok 3300mv/0rpm/0rpm/";  // 20 bytes
    put(master(), reply);
    ASSERT_EQ(platformWaitReadable(s_fd, kPatienceUs), 1);
    char buf[256];
    int64_t start = platformMonotonicUs();
    ASSERT_EQ(readDataTty(s_fd, buf, 200, sizeof buf), 20);
    EXPECT_GE(platformMonotonicUs() - start, 199000);
    EXPECT_EQ(std::string(buf, 20), reply);

    start = platformMonotonicUs();
    EXPECT_EQ(readDataTty(s_fd, buf, 10, sizeof buf), 0);
    EXPECT_GE(platformMonotonicUs() - start, 9000);

    put(master(), reply);
    ASSERT_EQ(platformWaitReadable(s_fd, kPatienceUs), 1);
    memset(buf, '#', sizeof buf);
    ASSERT_EQ(readDataTty(s_fd, buf, 10, 5), 5);  // the rest stays on the line
    EXPECT_EQ(std::string(buf, 6), "ok 33#");
    EXPECT_EQ(readDataTty(s_fd, buf, 10, sizeof buf), 15);
}

// A byte now and then must not restart the budget, or a chatty line would
// hold the caller until its buffer is full.
TEST_F(SerialPort, TrickleDoesNotStretchTheBudget) {
    std::atomic<bool> stop{false};
    sim::PartyThread talker("talker", [&] {
        while (!stop) {
            (void)!write(master(), "t", 1);
            platformSleepUs(50000);
        }
    });
    EXPECT_EQ(platformWaitReadable(s_fd, kPatienceUs), 1);
    char buf[256];
    const int n = readDataTty(s_fd, buf, 100, sizeof buf);
    stop = true;
    talker.join();
    EXPECT_GE(n, 1);
    EXPECT_LT(n, 256);
}

TEST_F(SerialPort, WithoutDeviceNothingIsSentAndNothingWaits) {
    closePort();
    ASSERT_TRUE(std::filesystem::remove(sysPath("/dev/ttyS1")));
    SerialCtrlInit();
    EXPECT_EQ(s_fd, -1);
    EXPECT_EQ(sendGCode("G90"), -1);
    EXPECT_EQ(send_engine_commands("G91", 3), -1);
    char buf[8];
    EXPECT_EQ(readSerialData(buf, 1000, sizeof buf), -1);
    EXPECT_EQ(drain(master(), 10000), "");
}

TEST_F(SerialPort, WriteDiscardsUnreadInputFirst) {
    put(master(), "ok stale\n");
    ASSERT_EQ(platformWaitReadable(s_fd, kPatienceUs), 1);
    EXPECT_EQ(sendDataTty(s_fd, "G90\n", 4), 1);
    char buf[16];
    EXPECT_EQ(readDataTty(s_fd, buf, 10, sizeof buf), 0);
    EXPECT_EQ(drain(master(), kPatienceUs, true), "G90\n");
}

}  // namespace
