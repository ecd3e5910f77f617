// printer-sim driven in lock-step through its control API, for programs that
// run the printer's firmware as a process: the campaign and pvk4k simulate.
// Firmware time moves only by run(); every call says whether the simulator
// answered, so a crash or a hang is a finding rather than a wait.
#pragma once

#include <httplib.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim_process.h"

namespace runner {

using nlohmann::json;

struct PrinterOptions {
    std::string printerSim;         // the executable; "" for the one beside this program
    std::vector<std::string> args;  // printer-sim options beyond the paused lock-step ones
    std::string tmpDir;             // its sandbox goes here
    std::string stderrPath;         // its standard error, for sanitizer reports
    int timeoutSeconds = 600;       // a call that takes longer is a hang
};

// printer-sim beside the running program (build/<preset>/bin/).
std::string printerSimBesideMe();

// A query value, percent-encoded (names may be Chinese or hold spaces).
std::string queryValue(const std::string& v);

class Printer {
  public:
    Printer() = default;
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Starts it paused at full speed on the serial schedule, its parties as
    // fibers (the same run as with threads, in less time); false with
    // `error` when it does not come up.
    bool start(const PrinterOptions& options, std::string& error);
    // SIGTERM and the exit status (-1 when it did not exit by itself).
    int stop();
    // True while it runs and every call so far was answered.
    bool ok() const { return failure_.empty(); }
    // Why the last call failed ("" when none did).
    const std::string& failure() const { return failure_; }
    int endSignal() const { return process_.endSignal; }

    // GET path: the body as JSON (null on a failure).
    json get(const std::string& path);
    // The raw body of GET path ("" on a failure).
    std::string getBytes(const std::string& path);
    // POST path with a JSON body: the status (-1 on a failure); `reply`
    // gets the body.
    int post(const std::string& path, const json& body, json* reply = nullptr);

    // Firmware time: run `ms`, or until state field `field` reads `value`
    // (at most `limitMs`); the answer's state.
    json run(int64_t ms);
    bool runUntil(const std::string& field, const json& value, int64_t limitMs);

  private:
    void fail(const std::string& why);
    SimProcess process_;
    std::unique_ptr<httplib::Client> client_;
    std::string failure_;
};

}  // namespace runner
