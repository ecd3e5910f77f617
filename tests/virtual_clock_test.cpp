// The clock's quiet waits: a descriptor that changes only through written()
// is not polled while nothing was written, yet a waiter on it runs at the
// very instant of an announced write; a waiter that is not quiet sees a write
// nobody announced at its instant too. And a party's thread has its name as
// soon as it is started, for a debugger stopping the process at any moment,
// and is gone once joined.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/clock/virtual_clock.h"

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fd), 0); }
    ~Pipe() {
        close(fd[0]);
        close(fd[1]);
    }
};

// The test's thread steps time a microsecond at a time (each step a chance
// to skip a poll), writes at `writeAfterUs` and steps on; the waiter notes
// when it saw the byte.
int64_t seenAfter(bool quiet, bool announce, int64_t writeAfterUs) {
    Pipe p;
    const int64_t start = sim::VirtualClock::nowUs();
    int64_t seen = -1;
    {
        // In short waits, as a serial read polls: each one after the first
        // starts from what the last found.
        sim::PartyThread waiter("waiter", [&] {
            for (int64_t until = start + 7; until < start + 10'000; until += 7) {
                if (sim::clock().waitReadable(&p.fd[0], 1, until, quiet) == 0) {
                    seen = sim::VirtualClock::nowUs() - start;
                    return;
                }
            }
        });
        for (int64_t t = 1; t <= writeAfterUs; ++t) sim::clock().sleepUntil(start + t);
        EXPECT_EQ(write(p.fd[1], "x", 1), 1);
        if (announce) sim::clock().written();
        for (int64_t t = writeAfterUs + 1; t <= writeAfterUs + 50; ++t) {
            sim::clock().sleepUntil(start + t);
        }
    }
    return seen;
}

TEST(VirtualClock, AWaiterSeesAWriteAtItsInstantQuietOnesWhenItIsAnnounced) {
    EXPECT_EQ(seenAfter(true, true, 30), 30);
    EXPECT_EQ(seenAfter(false, false, 30), 30);
    EXPECT_EQ(seenAfter(false, true, 0), 0);
}

bool aThreadIsNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm == name) return true;
    }
    return false;
}

TEST(VirtualClock, APartysThreadHasItsNameOnceStarted) {
    // Asleep in virtual time, the party lives until the join lets time pass.
    sim::PartyThread party("named-at-start",
                           [] { sim::clock().sleepUntil(sim::VirtualClock::nowUs() + 1000); });
    EXPECT_TRUE(aThreadIsNamed("named-at-start"));
}

// Joined, a party leaves no thread behind: under fibers its parked identity
// ends with it, so a print thread a job does not pile up.
TEST(VirtualClock, AJoinedPartyLeavesNoThreadBehind) {
    for (int i = 0; i < 20; ++i) {
        sim::PartyThread party("short-lived",
                               [] { sim::clock().sleepUntil(sim::VirtualClock::nowUs() + 10); });
    }
    EXPECT_FALSE(aThreadIsNamed("short-lived"));
}

}  // namespace
