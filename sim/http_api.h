// The simulator's control surface: a JSON API and the page built on it.
#pragma once

#include <memory>
#include <string>

#include "motion_board.h"
#include "trace.h"

namespace sim {

// What the control server reaches into.
struct World {
    std::string root;
    std::string stickDir;  // the folder inserted last (or given with --stick)
    Trace gcode;           // lines to and from the motion board
    Trace log;             // the firmware's standard output
    MotionBoard board{&gcode};
};

class HttpApi {
  public:
    explicit HttpApi(World& world);
    ~HttpApi();
    // Binds 127.0.0.1:port and serves in a thread of its own. False with a
    // message when the port cannot be bound.
    bool start(int port, std::string& error);
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
