// The one seam between the firmware and the machine under it.
//
// Every function here has two implementations: the board back end
// (platform/board/) and the simulated board (sim/). CMake picks one at link
// time; module code never knows which.
#pragma once

#include <cstdint>
#include <string>

// Process set-up before the firmware's own start-up: nothing on the board; the
// simulator builds its sandbox, device models and control server here.
void platformStart(int argc, char** argv);

// Called by the main loop once per pass: nothing on the board; the simulator
// runs its development hooks here, on the firmware's own thread.
void platformIdle();

// Maps a fixed absolute device path ("/dev/ttyS1", "/opt/usb", ...) to the
// path to open. Identity on the board.
std::string sysPath(const char* devicePath);

// Runs a shell command. Same result as system(): -1 when it could not be run.
int platformShell(const char* command);

// Monotonic firmware time in microseconds. Durations are measured on it so a
// wall-clock jump never shortens or stretches a wait.
int64_t platformMonotonicUs();

// Sleeps for `us` microseconds of firmware time. 0, or -1 when a signal ended
// the sleep early (it is not resumed).
int platformSleepUs(int64_t us);

// Waits until `fd` is readable or `us` microseconds of firmware time pass.
// Result as poll(): 1 readable, 0 time-out, -1 error (errno set).
int platformWaitReadable(int fd, int64_t us);

// Port-controller (GPIO) registers, addressed by byte offset from the start of
// the block at physical address 0x01C20800. Maps the block once; false when
// it cannot be mapped (the reason is logged).
bool platformGpioMap();
uint32_t platformGpioRead(uint32_t offset);
void platformGpioWrite(uint32_t offset, uint32_t value);

// The SPI user-space device: open, its ioctls, plain reads and writes, as the
// kernel calls of the same names.
int platformSpiOpen(const char* devicePath);
int platformSpiIoctl(int fd, unsigned long request, void* arg);
long platformSpiWrite(int fd, const void* data, unsigned long len);
long platformSpiRead(int fd, void* data, unsigned long len);

// The hot-plug event socket: a kernel-object event netlink socket on the
// board, one end of a socket pair fed by the simulated stick in the sim.
// Open: the descriptor or -1 (errno set). Bind: receive buffer of 1024 bytes,
// joined to the kernel's event group; 0 or -1 (errno set).
int platformHotplugOpen();
int platformHotplugBind(int fd);

// The mask's frame-buffer device, opened by the caller: its geometry as the
// fixed and variable screen information report it. 0, 2 when the fixed
// information cannot be read, 3 when the variable cannot.
struct FbScreenInfo {
    uint32_t xres;
    uint32_t yres;
    uint32_t bits_per_pixel;
    uint32_t line_length;  // bytes per line
};
int platformFbScreenInfo(int fd, FbScreenInfo& info);
