#include "sim_platform.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>

#include "firmware/platform/platform.h"
#include "sim/clock/virtual_clock.h"

namespace sim {
namespace {
std::string g_root;
std::mutex g_shellLock;
ShellHandler g_shell;

// One development hook at a time, handed to the main loop.
std::mutex g_hookLock;  // serialises callers of runOnMainLoop
std::mutex g_taskLock;
std::function<void()> g_task;
std::atomic<bool> g_taskRan{false};

JobListener g_jobListener;
std::atomic<int> g_liveJobs{0};

struct JobThread {
    void* (*body)(void*);
    void* arg;
};

// The serial line's device; 0: none.
std::atomic<dev_t> g_serialLine{0};
// The firmware's port once found to be on that device (-1: not yet).
std::atomic<int> g_linePort{-1};

// The firmware opens the line by its path and never closes it: its port is
// told by the device it stands for, once.
bool isSerialLine(int fd) {
    if (fd < 0) return false;
    if (g_linePort.load(std::memory_order_relaxed) == fd) return true;
    const dev_t line = g_serialLine.load(std::memory_order_relaxed);
    struct stat st {};
    if (line == 0 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != line) {
        return false;
    }
    g_linePort.store(fd, std::memory_order_relaxed);
    return true;
}
}  // namespace

void setSerialLine(int fd) {
    struct stat st {};
    const bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
    g_serialLine.store(ok ? st.st_rdev : 0, std::memory_order_relaxed);
    g_linePort.store(-1, std::memory_order_relaxed);
}

void setJobListener(JobListener listener) {
    g_jobListener = std::move(listener);
}

bool jobAlive() {
    return g_liveJobs.load() > 0;
}

bool onJobThread() {
    // By the party's name: a fiber shares its thread with the others.
    return sim::clock().partyNameIs("print");
}

void configure(const std::string& rootDir) {
    g_root = rootDir;
    while (!g_root.empty() && g_root.back() == '/') g_root.pop_back();
}

const std::string& root() {
    return g_root;
}
int64_t nowMs() {
    return (VirtualClock::nowUs() - VirtualClock::kStartUs) / 1000;
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
    return sim::VirtualClock::nowUs();
}

int platformSleepUs(int64_t us) {
    if (us <= 0) return 0;
    sim::clock().sleepUntil(sim::VirtualClock::nowUs() + us);
    return 0;
}

int platformWaitReadable(int fd, int64_t us) {
    const int64_t deadline = sim::VirtualClock::nowUs() + std::max<int64_t>(us, 0);
    const int r = sim::clock().waitReadable(&fd, 1, deadline, sim::isSerialLine(fd));
    return r == 0 ? 1 : r == -1 ? 0 : -1;
}

long platformSerialWrite(int fd, const void* data, unsigned long len) {
    const ssize_t n = write(fd, data, len);
    sim::clock().written();  // the motion board may have a line to read
    return n;
}

int platformThreadStart(pthread_t* thread, const char* name, void* (*body)(void*), void* arg) {
    if (std::string_view(name) != "print") return sim::clock().startParty(thread, name, body, arg);
    ++sim::g_liveJobs;
    if (sim::g_jobListener) sim::g_jobListener(true);
    auto* job = new sim::JobThread{body, arg};
    const int err = sim::clock().startParty(
        thread, name,
        [](void* a) -> void* {
            const std::unique_ptr<sim::JobThread> job(static_cast<sim::JobThread*>(a));
            void* result = job->body(job->arg);
            if (sim::g_jobListener) sim::g_jobListener(false);
            --sim::g_liveJobs;
            return result;
        },
        job);
    if (err != 0) {
        delete job;
        if (sim::g_jobListener) sim::g_jobListener(false);
        --sim::g_liveJobs;
    }
    return err;
}

void PlatformMutex::lock() {
    sim::clock().lock(this);
}

void PlatformMutex::unlock() {
    sim::clock().unlock(this);
}

namespace sim {

bool runOnMainLoop(std::function<void()> task, int limitMs) {
    std::lock_guard<std::mutex> caller(g_hookLock);
    {
        std::lock_guard<std::mutex> lock(g_taskLock);
        g_task = std::move(task);
        g_taskRan = false;
    }
    const RunResult r =
        clock().run(static_cast<int64_t>(limitMs) * 1000, [] { return g_taskRan.load(); });
    if (r.reached) return true;
    std::lock_guard<std::mutex> lock(g_taskLock);
    g_task = nullptr;
    return g_taskRan;
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
    sim::g_taskRan = true;
}
