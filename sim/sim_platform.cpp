#include "sim_platform.h"

#include <poll.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"
#include "platform/poll_readable.h"

namespace sim {
namespace {
std::string g_root;
std::atomic<double> g_speed{1.0};
int64_t g_realEpochUs = 0;
// Firmware time = g_simBaseUs + (real time - g_realBaseUs) * speed; rebased on
// every change of speed so the clock never jumps.
int64_t g_simBaseUs = 0;
int64_t g_realBaseUs = 0;
std::mutex g_shellLock;
ShellHandler g_shell;

// One development hook at a time, handed to the main loop.
std::mutex g_hookLock;  // serialises callers of runOnMainLoop
std::mutex g_taskLock;
std::condition_variable g_taskDone;
std::function<void()> g_task;
bool g_taskRan = false;

int64_t realMonotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Real-time length of a span of firmware time, rounded up so a short wait
// never becomes a busy loop of zero-length sleeps.
int64_t toRealUs(int64_t us) {
    if (us <= 0) return 0;
    const double real = static_cast<double>(us) / g_speed.load(std::memory_order_relaxed);
    return real < 1.0 ? 1 : static_cast<int64_t>(real);
}

timespec toTimespec(int64_t us) {
    return timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
}

struct EpochInit {
    EpochInit() { g_realEpochUs = g_simBaseUs = g_realBaseUs = realMonotonicUs(); }
} epochInit;
}  // namespace

void configure(const std::string& rootDir, double speedFactor) {
    g_root = rootDir;
    while (!g_root.empty() && g_root.back() == '/') g_root.pop_back();
    g_simBaseUs = platformMonotonicUs();
    g_realBaseUs = realMonotonicUs();
    g_speed = speedFactor > 0 ? speedFactor : 1.0;
}

const std::string& root() {
    return g_root;
}
double speed() {
    return g_speed;
}
int64_t epochUs() {
    return g_realEpochUs;
}
int64_t nowMs() {
    return (platformMonotonicUs() - g_realEpochUs) / 1000;
}

void setShellHandler(ShellHandler handler) {
    std::lock_guard<std::mutex> lock(g_shellLock);
    g_shell = std::move(handler);
}

}  // namespace sim

std::string sysPath(const char* devicePath) {
    return sim::g_root + devicePath;
}

int platformShell(const char* command) {
    sim::ShellHandler handler;
    {
        std::lock_guard<std::mutex> lock(sim::g_shellLock);
        handler = sim::g_shell;
    }
    if (handler) return handler(command);
    printf("[os] %s\n", command);
    return 0;
}

int64_t platformMonotonicUs() {
    const double elapsed = static_cast<double>(sim::realMonotonicUs() - sim::g_realBaseUs);
    return sim::g_simBaseUs +
           static_cast<int64_t>(elapsed * sim::g_speed.load(std::memory_order_relaxed));
}

int platformSleepUs(int64_t us) {
    const int64_t real = sim::toRealUs(us);
    if (real == 0) return 0;
    // The kernel's timer slack makes any sleep last tens of microseconds,
    // which at a high speed-up would be long stretches of firmware time: the
    // drivers' microsecond waits spin on the clock instead.
    if (real < 200) {
        const int64_t until = sim::realMonotonicUs() + real;
        while (sim::realMonotonicUs() < until) sched_yield();
        return 0;
    }
    const timespec ts = sim::toTimespec(real);
    return nanosleep(&ts, nullptr) == 0 ? 0 : -1;
}

int platformWaitReadable(int fd, int64_t us) {
    return pollReadable(fd, sim::toTimespec(sim::toRealUs(us)));
}

int platformThreadStart(pthread_t* thread, void* (*body)(void*), void* arg) {
    return pthread_create(thread, nullptr, body, arg);
}

void PlatformMutex::lock() {
    mutex_.lock();
}

void PlatformMutex::unlock() {
    mutex_.unlock();
}

namespace sim {

bool runOnMainLoop(std::function<void()> task, int timeoutMs) {
    std::lock_guard<std::mutex> caller(g_hookLock);
    std::unique_lock<std::mutex> lock(g_taskLock);
    g_task = std::move(task);
    g_taskRan = false;
    if (g_taskDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return g_taskRan; })) {
        return true;
    }
    g_task = nullptr;
    return false;
}

}  // namespace sim

void platformIdle() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(sim::g_taskLock);
        task.swap(sim::g_task);
    }
    if (!task) return;
    task();
    std::lock_guard<std::mutex> lock(sim::g_taskLock);
    sim::g_taskRan = true;
    sim::g_taskDone.notify_all();
}
