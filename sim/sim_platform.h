// The simulated board's side of the platform seam: the sandbox root and the
// model of the board's operating system. Firmware time is the virtual clock's
// (virtual_clock.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// Root of the sandbox that device paths map into ("" maps nothing).
void configure(const std::string& root);
const std::string& root();

// Firmware milliseconds since the simulation started.
int64_t nowMs();

// Shell commands of the firmware go to this handler; the default logs the
// command and reports success.
using ShellHandler = std::function<int(const char*)>;
void setShellHandler(ShellHandler handler);

// A job is the life of the firmware's print thread: `listener(true)` runs
// on the thread that starts it, before it runs; `listener(false)` on the
// print thread once its work is done. Set before the firmware starts.
using JobListener = std::function<void(bool started)>;
void setJobListener(JobListener listener);
// True on the party of the running job.
bool onJobThread();
// True while a print thread lives (from its start to the end of its work).
bool jobAlive();

// Runs `task` on the firmware's main loop between two passes and waits for
// it, letting firmware time run (also on a paused clock) until the loop has
// taken it; false when it did not within `limitMs` of firmware time (the
// task is then dropped).
bool runOnMainLoop(std::function<void()> task, int limitMs = 5000);

// The serial line's end the firmware opens: `fd` is the simulator's own
// descriptor of it. Only the motion board's model writes to its other end,
// so the firmware's waits on it are quiet ones of the clock (-1: none); the
// firmware's writes to it go through platformSerialWrite, so the board's
// waits are quiet too.
void setSerialLine(int fd);

}  // namespace sim
