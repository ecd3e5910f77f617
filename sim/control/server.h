// The simulator's control surface: a JSON API on 127.0.0.1 and the one page
// built on it (control/web/index.html), which the scenario tests and the
// page use alike. It reaches into the firmware's state by its global names
// and into the models of the World; every change it makes to the machine
// goes through the clock, between two steps of the firmware. Requests are
// read by api_requests, the machine shown by state, and each resource has
// its routes in routes/.
#pragma once

#include <memory>
#include <string>

#include "sim/world.h"

namespace sim {

class ControlServer {
  public:
    explicit ControlServer(World& world);
    ~ControlServer();
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
