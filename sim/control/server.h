// The simulator's control surface: a JSON API and the page built on it.
#pragma once

#include <memory>
#include <string>

#include "sim/motion/motion_board.h"
#include "sim/motion/trace.h"

namespace sim {

// What the control server reaches into.
struct World {
    std::string root;
    std::string stickDir;  // the folder inserted last (or given with --stick)
    Trace gcode;           // lines to and from the motion board
    Trace log;             // the firmware's standard output
    ResinVat vat;          // what the light cures
    MotionBoard board{&gcode, &vat};
};

class HttpApi {
  public:
    explicit HttpApi(World& world);
    ~HttpApi();
    // Binds 127.0.0.1:port, or a free port for 0; the port bound, or 0 with a
    // message when it cannot be bound.
    int bind(int port, std::string& error);
    // Serves in a thread of its own: requests wait in the socket's backlog
    // until then.
    void serve();
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
