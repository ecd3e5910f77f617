// The simulated board's side of the platform seam: sandbox root, scaled
// time and the model of the board's operating system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// Root of the sandbox that device paths map into ("" maps nothing), and how
// many times faster than real time the firmware and the models run.
void configure(const std::string& root, double speed);
const std::string& root();
double speed();

// Firmware time at which the simulation started, in microseconds.
int64_t epochUs();
// Firmware milliseconds since the simulation started.
int64_t nowMs();

// Shell commands of the firmware go to this handler; the default logs the
// command and reports success.
using ShellHandler = std::function<int(const char*)>;
void setShellHandler(ShellHandler handler);

// Runs `task` on the firmware's main loop between two passes and waits for
// it; false when the loop did not take it within `timeoutMs` of real time
// (the task is then dropped).
bool runOnMainLoop(std::function<void()> task, int timeoutMs = 5000);

}  // namespace sim
