// A pseudo-terminal pair standing in for the board's serial line.
#pragma once

#include <string>

namespace sim {

struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never reads a hang-up
    std::string slaveName;
};

// Opens a pair with the slave in raw mode. False (errno set) on failure.
bool openPty(Pty& pty);
void closePty(Pty& pty);

}  // namespace sim
