// What printer-sim's set-up builds from its options and the control server
// reaches into: the sandbox, the line records, the motion board, the vat.
#pragma once

#include <string>

#include "sim/motion/motion_board.h"
#include "sim/motion/trace.h"
#include "sim/vat/resin_vat.h"

namespace sim {

struct World {
    std::string root;
    std::string stickDir;  // the folder inserted last (or given with --stick)
    Trace gcode;           // lines to and from the motion board
    Trace log;             // the firmware's standard output
    ResinVat vat;          // what the light cures
    MotionBoard board{&gcode, &vat};
};

}  // namespace sim
