// Board back end of the platform seam: the real device, no mapping.
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "display/driver.h"
#include "platform/platform.h"
#include "platform/poll_readable.h"

void platformStart(int, char**) {}

void platformIdle() {}

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
    return pollReadable(
        fd, timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000});
}

int platformThreadStart(pthread_t* thread, const char* name, void* (*body)(void*), void* arg) {
    const int err = pthread_create(thread, nullptr, body, arg);
    if (err == 0) pthread_setname_np(*thread, name);
    return err;
}

void PlatformMutex::lock() {
    mutex_.lock();
}

void PlatformMutex::unlock() {
    mutex_.unlock();
}

// The panel module's lines: the port controller mapped from physical memory.
namespace {
volatile uint32_t* g_gpio = nullptr;
}

bool platformGpioMap() {
    const int memfd = open("/dev/mem", O_RDWR | O_SYNC);
    if (memfd < 0) {
        perror("Unable to open /dev/mem");
        return false;
    }
    const auto page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
    const GpioWindow w = gpioWindow(page);
    void* pc = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_SHARED, memfd,
                    static_cast<off_t>(w.start));
    if (pc == MAP_FAILED) {
        perror("Unable to mmap file");
        printf("pc:%lx\n", reinterpret_cast<unsigned long>(pc));
        return false;
    }
    printf("PageSize:%8.8x\tPageMask:%8.8x\naddr_start:%8.8x\taddr_offset:%8.8x\n", page, 0u - page,
           w.start, w.offset);
    printf("pc:%8.8x\n", *static_cast<volatile uint32_t*>(pc));
    g_gpio = reinterpret_cast<volatile uint32_t*>(static_cast<char*>(pc) + w.offset);
    return true;
}

// Without the mapping nothing is written, and every line reads high.
uint32_t platformGpioRead(uint32_t offset) {
    return g_gpio != nullptr ? g_gpio[offset / 4] : 0xFFFFFFFFu;
}

void platformGpioWrite(uint32_t offset, uint32_t value) {
    if (g_gpio != nullptr) g_gpio[offset / 4] = value;
}

int platformSpiOpen(const char* devicePath) {
    return open(devicePath, O_RDWR);
}

int platformSpiIoctl(int fd, unsigned long request, void* arg) {
    return ioctl(fd, request, arg);
}

long platformSpiWrite(int fd, const void* data, unsigned long len) {
    return write(fd, data, len);
}

long platformSerialWrite(int fd, const void* data, unsigned long len) {
    return write(fd, data, len);
}

long platformSpiRead(int fd, void* data, unsigned long len) {
    return read(fd, data, len);
}

int platformHotplugOpen() {
    return socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
}

int platformHotplugBind(int fd) {
    const int size = 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = static_cast<uint32_t>(getpid());
    addr.nl_groups = 1;  // the kernel's event group
    return bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

ssize_t platformHotplugReceive(int fd, void* buf, size_t len) {
    return recv(fd, buf, len, 0);
}

void platformMaskWritten() {}

int platformFbScreenInfo(int fd, FbScreenInfo& info) {
    fb_fix_screeninfo fixed{};
    if (ioctl(fd, FBIOGET_FSCREENINFO, &fixed) != 0) return 2;
    fb_var_screeninfo var{};
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0) return 3;
    info.xres = var.xres;
    info.yres = var.yres;
    info.bits_per_pixel = var.bits_per_pixel;
    info.line_length = fixed.line_length;
    return 0;
}
