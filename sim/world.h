// What printer-sim's set-up builds from its options and the control server
// reaches into: the sandbox, the line records, the motion board, the vat,
// the jobs.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/motion/motion_board.h"
#include "sim/motion/trace.h"
#include "sim/vat/resin_vat.h"

namespace sim {

// One job: the life of a print thread, and what the firmware held when it
// started and ended.
struct JobRecord {
    uint64_t n = 0;        // running number
    int64_t start_us = 0;  // firmware µs
    int64_t end_us = -1;   // -1 while it runs
    std::string file;      // the previewed file's name, as the firmware holds it
    bool material_test = false;
    int reading = 0;      // the light source's temperature as the firmware read it
    int end_status = -1;  // the print status its work ended with
    int layers = 0;       // layers exposed, of
    int total = 0;        // the file's layers, at the end
};

class JobLog {
  public:
    void started(JobRecord job) {
        std::lock_guard<std::mutex> l(lock_);
        job.n = jobs_.size();
        jobs_.push_back(std::move(job));
    }
    void ended(int64_t at_us, int status, int layers, int total) {
        std::lock_guard<std::mutex> l(lock_);
        if (jobs_.empty() || jobs_.back().end_us >= 0) return;
        jobs_.back().end_us = at_us;
        jobs_.back().end_status = status;
        jobs_.back().layers = layers;
        jobs_.back().total = total;
    }
    std::vector<JobRecord> jobs() const {
        std::lock_guard<std::mutex> l(lock_);
        return jobs_;
    }

  private:
    mutable std::mutex lock_;
    std::vector<JobRecord> jobs_;  // one a job: a session has a few
};

struct World {
    std::string root;
    std::string stickDir;  // the folder inserted last (or given with --stick)
    Trace gcode;           // lines to and from the motion board
    Trace log;             // the firmware's standard output
    ResinVat vat;          // what the light cures
    MotionBoard board{&gcode, &vat};
    JobLog jobs;
};

}  // namespace sim
