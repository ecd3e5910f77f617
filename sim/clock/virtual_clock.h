// Firmware time of the simulated board, and the one place that decides who
// runs.
//
// Time advances only when every party waits: the firmware's threads and the
// device models' threads, each in a sleep, in a timed wait for a descriptor,
// on a lock whose holder waits or on a thread it joins, and nothing is
// readable on a descriptor a waiting party waits for. It then jumps to the
// earliest deadline. A party that computes holds time still. Whoever is due
// at the same instant runs one at a time, in the order the parties joined
// (Schedule::Serial), so the same inputs give the same run; the same with
// the parties that a party starts run as fibers on its thread
// (Schedule::Fibers): the same run, with a hand-over a switch of stacks in
// user space instead of a wake and a wait in the kernel, but one thread for
// a debugger; or together (Schedule::Parallel), so threads really run side
// by side for the race detector, at the price of repeatability.
//
// Threads that are not parties (the control server's, a test's helper) are
// outsiders: they read the time, sleep until a firmware instant, and change
// the machine only through inject() or at(), between two steps of the
// parties.
//
// The clock (clock/) uses nothing of the simulator; everything in it that
// waits or runs a thread stands on the clock.
#pragma once

#include <pthread.h>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

namespace sim {

enum class Schedule { Serial, Fibers, Parallel };

// Whether Schedule::Fibers runs fibers in this build: not under the
// sanitizers, which follow threads, not stacks switched under them (there
// it is Schedule::Serial).
bool fibersAvailable();

struct ClockSettings {
    double speed = 0;     // at most this many times real time; 0: as fast as it goes
    bool paused = false;  // time moves only inside run()
    Schedule schedule = Schedule::Serial;
    // Serially the parties share one CPU, so that a hand-over is a switch
    // between two threads there rather than a wake of the other CPU: this
    // one, or -1 for the one the first party starts on.
    int cpu = -1;
};

// How a run() ended.
struct RunResult {
    bool reached = false;  // the `until` condition held
    int64_t now_us = 0;    // firmware time at the end
};

// No deadline: wait for a descriptor only.
constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

class VirtualClock {
  public:
    // Firmware time when the simulation starts (as if the board had been up
    // for a while); fixed, so two runs stamp the same times.
    static constexpr int64_t kStartUs = 100'000'000;

    static int64_t nowUs();

    void configure(const ClockSettings& settings);
    ClockSettings settings() const;

    // --- Parties ------------------------------------------------------------
    // The calling thread becomes a party (printer-sim's firmware main thread,
    // a test program's main thread). `name` shows in a debugger.
    void joinCallingThread(const char* name);
    bool isParty() const;  // the calling thread is one
    // The calling party is the one started under this name.
    bool partyNameIs(const char* name) const;

    // Starts `body` in a new thread that is a party from the moment this
    // returns (under Schedule::Fibers, started by a party on the carrier: a
    // fiber there, with a parked thread as its identity). pthread_create's
    // result.
    int startParty(pthread_t* thread, const char* name, void* (*body)(void*), void* arg);

    // Waits until `deadline` (firmware µs). Parties and outsiders.
    void sleepUntil(int64_t deadline);
    // Waits until one of `fds` is readable, an error shows on it, or
    // `deadline` passes: the index of the first such descriptor, -1 on the
    // deadline, -2 when a descriptor is not open (errno EBADF). `quiet`: the
    // descriptors become readable or show an error only after written() (the
    // simulator's own pipes and sockets, the end of the serial line its
    // model writes to), so that while nothing was written since a poll found
    // every waited descriptor idle, time moves on without polling again.
    int waitReadable(const int* fds, int count, int64_t deadline, bool quiet = false);
    // The simulator wrote to a descriptor a party may wait on quietly.
    void written();

    // The firmware's locks (PlatformMutex): taken in the order asked.
    void lock(const void* mutex);
    void unlock(const void* mutex);

    // Until the party thread `thread` has ended; then joins it.
    void join(pthread_t thread);

    // --- Outsiders ------------------------------------------------------------
    // Runs `change` while no party runs, at the current firmware instant and
    // before the parties still due at it.
    void inject(const std::function<void()>& change);
    // Runs `change` once firmware time reaches `at_us`, before the parties
    // due then; for a change that has to wait (the end of a held touch).
    void at(int64_t at_us, std::function<void()> change);
    // Lets time run from now to now + `for_us` (what is due then runs) or
    // until `until` holds, checked at every instant once the parties due at
    // it have settled; a paused clock is paused again afterwards. One run at
    // a time; `until` runs with every party stopped and must not block.
    RunResult run(int64_t for_us, std::function<bool()> until = nullptr);
    // Something outside changed what a waiting party may read.
    void poke();
    // Runs `then` once, the first time every party waits (the firmware's
    // start-up has run up to its first wait), also on a paused clock.
    void whenFirstSettled(std::function<void()> then);

    struct State;  // virtual_clock.cpp

  private:
    friend VirtualClock& clock();

    VirtualClock();
    State* s_;
};

VirtualClock& clock();

// A thread that is a party of the clock from its start, for the simulator's
// models and the tests; joining it waits as a party waits.
class PartyThread {
  public:
    PartyThread(const char* name, std::function<void()> body);
    ~PartyThread();  // joins
    PartyThread(const PartyThread&) = delete;
    PartyThread& operator=(const PartyThread&) = delete;
    void join();

  private:
    std::function<void()> body_;
    pthread_t thread_{};
    bool joinable_ = false;
};

}  // namespace sim
