// One session run in printer-sim in lock-step, its invariants judged after
// every action over everything recorded since the one before.
#pragma once

#include <cstdint>
#include <string>

#include "invariants.h"
#include "session.h"

namespace campaign {

struct RunOptions {
    std::string printerSim;  // "" for the one beside this program
    std::string workDir;     // sessions' scratch folders go here ("" for $TMPDIR)
    bool keep = false;       // leave the scratch folder
    bool verbose = false;    // each action and the state after it, on standard error
    int cpu = -1;            // printer-sim's --cpu; -1: its own choice
};

struct Outcome {
    bool held = true;
    Broken broken;           // when not held
    int action = -1;         // the action after which it broke (-1: at start or at the end)
    int64_t firmwareMs = 0;  // firmware time the run reached
    uint64_t traceHash = 0;  // of every trace line: its time, direction and text
    double realSeconds = 0;
    // What the session got to: jobs started and ended to their last layer,
    // parts held against their file, light spans judged.
    int jobs = 0, jobsToTheEnd = 0, partsCompared = 0, lightSpans = 0;
};

Outcome runSession(const Session& session, const RunOptions& options);

}  // namespace campaign
