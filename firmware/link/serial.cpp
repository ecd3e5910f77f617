#include "link/serial.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/global_func.h"
#include "platform/platform.h"

std::atomic<int> s_fd{-1};
int s_se = -1;

namespace {
int fd = -1;  // result of the open call, handed to s_fd once usable

speed_t lineSpeed(int32_t baud) {
    switch (baud) {
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 115200: return B115200;
        case 460800: return B460800;
        default: return B9600;
    }
}
}  // namespace

void SerialCtrlInit() {
    if (s_se != -1) return;
    const std::string path = sysPath("/dev/ttyS1");
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        perror("Open Port Error:unable to open /dev/ttyS1");
        return;
    }
    if (fcntl(fd, F_SETFL, 0) < 0) {
        puts("fcntl failed!");
        return;
    }
    printf("fcntl = %d\n", fcntl(fd, F_SETFL, 0));
    if (isatty(STDIN_FILENO) == 0) {
        puts("standard input is not a terminaldevice");
    } else {
        printf(" %d is a tty success\n", fd);
    }
    s_fd = fd;
    s_se = 1;
    if (set_opt(fd, 115200, 8, 'N', 1) < 0) {
        perror("Config Port Error:unable to configure /dev/ttyS1");
        s_se = -1;
        return;
    }
    tcflush(fd, TCIOFLUSH);
}

int set_opt(int fd, int32_t nSpeed, int nBits, char nEvent, int nStop) {
    termios oldtio{};
    if (tcgetattr(fd, &oldtio) != 0) {
        perror("SetupSerial 1");
        return -1;
    }
    termios newtio{};
    newtio.c_cflag |= CLOCAL | CREAD;
    newtio.c_cflag &= ~CSIZE;
    if (nBits == 7) newtio.c_cflag |= CS7;
    if (nBits == 8) newtio.c_cflag |= CS8;
    switch (nEvent) {
        case 'O':
            newtio.c_cflag |= PARENB | PARODD;
            newtio.c_iflag |= INPCK | ISTRIP;
            break;
        case 'E':
            newtio.c_iflag |= INPCK | ISTRIP;
            newtio.c_cflag |= PARENB;
            newtio.c_cflag &= ~PARODD;
            break;
        case 'N': newtio.c_cflag &= ~PARENB; break;
        default: break;
    }
    const speed_t speed = lineSpeed(nSpeed);
    cfsetispeed(&newtio, speed);
    cfsetospeed(&newtio, speed);
    if (nStop == 2) {
        newtio.c_cflag |= CSTOPB;
    } else {
        newtio.c_cflag &= ~CSTOPB;
    }
    newtio.c_cc[VTIME] = 0;
    newtio.c_cc[VMIN] = 0;
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &newtio) != 0) {
        perror("com set error");
        return -1;
    }
    printf("set done!\n\r");
    return 0;
}

int sendDataTty(int fd, const char* data, int len) {
    tcflush(fd, TCIOFLUSH);
    if (platformSerialWrite(fd, data, static_cast<unsigned long>(len)) < 0) {
        perror("write device error");
        return -1;
    }
    msleep(10);
    return 1;
}

timeval readBudget(int ms) {
    if (ms < 0) ms = 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

int readDataTty(int fd, char* buf, int ms, int max) {
    const timeval budget = readBudget(ms);
    const int64_t deadline =
        platformMonotonicUs() + static_cast<int64_t>(budget.tv_sec) * 1000000 + budget.tv_usec;
    int count = 0;
    while (count < max) {
        const int ready = platformWaitReadable(fd, deadline - platformMonotonicUs());
        if (ready < 0) {
            perror("select()");
            break;
        }
        if (ready == 0) break;
        if (read(fd, buf + count, 1) != 1) {
            // A hung-up line reads as ready forever: spend the budget so the
            // caller's polls keep their pace instead of spinning.
            platformSleepUs(deadline - platformMonotonicUs());
            break;
        }
        ++count;
    }
    return count;
}

int readSerialData(char* buf, int ms, int max) {
    const int port = s_fd;
    if (port == -1) return -1;
    return readDataTty(port, buf, ms, max);
}
