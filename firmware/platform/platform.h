// The one seam between the firmware and the machine under it.
//
// Every function here has two back ends: the board (platform/board/
// platform_board.cpp) and the simulated board (sim/, the file named with each
// group). CMake picks one at link time; module code never knows which. What
// is written here is what *every* back end guarantees; tests/
// platform_contract_test.cpp checks it against both.
//
// Threads: the firmware's main thread, its hot-plug thread and its print
// thread; in the simulator also the control server's thread and the device
// models' threads. Each group says which of them call it.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// --- Process (sim: sim_main.cpp, sim_platform.cpp) -------------------------
// Main thread only.

// Set-up before the firmware's own start-up: nothing on the board; the
// simulator builds its sandbox, device models and control server here.
void platformStart(int argc, char** argv);

// Called by the main loop once per pass: nothing on the board; the simulator
// runs its development hooks here, on the firmware's own thread.
void platformIdle();

// --- Files and the shell (sim: sim_platform.cpp) ---------------------------
// Any firmware thread.

// Maps a fixed absolute device path ("/dev/ttyS1", "/opt/usb", ...) to the
// path to open: identity on the board, into the sandbox in the simulator.
std::string sysPath(const char* devicePath);

// Runs a shell command. Same result as system(): -1 when it could not be run.
// The simulator runs none: its model of the board's OS answers.
int platformShell(const char* command);

// --- Time (sim: sim_platform.cpp) ------------------------------------------
// Any thread, the simulator's own included. Firmware time is monotonic: it
// never goes backwards, in one thread or across threads, and a wall-clock
// jump never shortens or stretches a wait. On the board it is the kernel's
// monotonic clock; in the simulator a virtual clock that advances only when
// every firmware thread waits.

// Firmware time in microseconds.
int64_t platformMonotonicUs();

// Sleeps for `us` microseconds of firmware time: afterwards the clock has
// advanced by at least `us`. 0 and negative return 0 at once. 0, or -1 when a
// signal ended the sleep early (it is not resumed).
int platformSleepUs(int64_t us);

// Waits until `fd` is readable or `us` microseconds of firmware time pass.
// Result as poll(): 1 readable, 0 time-out, -1 error (errno set; EBADF for a
// descriptor that is not open). A negative `us` does not wait.
int platformWaitReadable(int fd, int64_t us);

// --- The serial line to the motion board (sim: sim_platform.cpp) ----------
// Any firmware thread, holding the port's lock.
//
// The line is opened and set up with the kernel's own calls; what is
// written to it goes through the seam, so that the simulator knows when a
// byte is on its way to the board and need not look for one otherwise.
// write(2) and its result.
long platformSerialWrite(int fd, const void* data, unsigned long len);

// --- Threads and locks (sim: sim_platform.cpp) ----------------------------
// Any firmware thread.
//
// The firmware's threads and its locks go through the seam so that the
// simulator knows which of them run and which wait.

// Starts a thread running `body(arg)`: pthread_create() with default
// attributes, its result (0, or the error number). The thread is called
// `name` (at most 15 characters) in the debugger and in top.
int platformThreadStart(pthread_t* thread, const char* name, void* (*body)(void*), void* arg);

// The firmware's lock: a std::mutex on the board, usable with
// std::lock_guard. Not recursive; constant-initialised, so a global one is
// usable from the start of the process.
class PlatformMutex {
  public:
    constexpr PlatformMutex() = default;
    PlatformMutex(const PlatformMutex&) = delete;
    PlatformMutex& operator=(const PlatformMutex&) = delete;
    void lock();
    void unlock();

  private:
    std::mutex mutex_;
};

// --- Port controller, the panel's lines (sim: panel/board_io.cpp) ----------
// Main thread only.
//
// Registers addressed by byte offset from the start of the block at physical
// address 0x01C20800. Map once, before any other call: until then every
// register reads all ones and writes are dropped, on every back end.

// Maps the block; false when it cannot be mapped (the reason is logged), and
// the registers stay as before mapping.
bool platformGpioMap();
uint32_t platformGpioRead(uint32_t offset);
void platformGpioWrite(uint32_t offset, uint32_t value);

// --- The SPI bus to the display and touch chips (sim: panel/board_io.cpp) --
// Main thread only.
//
// The user-space SPI device: open, its ioctls, plain reads and writes, with
// the kernel calls' results (-1 and errno on failure, EBADF on a descriptor
// that is not the bus). The chip that takes a transfer is the one whose
// select line (above) is low; with none or both low a transfer fails (EIO
// in the simulator; on the board nothing answers).
int platformSpiOpen(const char* devicePath);
int platformSpiIoctl(int fd, unsigned long request, void* arg);
long platformSpiWrite(int fd, const void* data, unsigned long len);
long platformSpiRead(int fd, void* data, unsigned long len);

// --- The hot-plug event socket (sim: stick/usb_stick.cpp) ------------------
// Opened and bound by the main thread at start-up; the hot-plug thread then
// waits in platformHotplugReceive.
//
// A kernel-object event netlink socket on the board, one end of a socket
// pair fed by the simulated stick in the simulator.
// Open: the descriptor or -1 (errno set). Bind: receive buffer of 1024 bytes,
// joined to the kernel's event group; 0 or -1 (errno set).
int platformHotplugOpen();
int platformHotplugBind(int fd);
// Waits for the next event message: recv() of at most `len` bytes, its
// result (-1 and errno on failure).
ssize_t platformHotplugReceive(int fd, void* buf, size_t len);

// --- The mask's frame buffer (sim: vat/mask.cpp) ---------------------------
// The print thread, and the main thread's light test; never both at once.
//
// The device is opened by the caller (through sysPath); this gives its
// geometry as the fixed and variable screen information report it. 0, 2
// when the fixed information cannot be read (also for a descriptor that is
// not open), 3 when the variable cannot.
struct FbScreenInfo {
    uint32_t xres;
    uint32_t yres;
    uint32_t bits_per_pixel;
    uint32_t line_length;  // bytes per line
};
int platformFbScreenInfo(int fd, FbScreenInfo& info);

// Called when a write to the mask is complete (a layer decoded, a fill, a
// rectangle): nothing on the board, where the screen shows what is mapped;
// the simulator takes note of the mask's new content here instead of reading
// the whole frame again and again.
void platformMaskWritten();
