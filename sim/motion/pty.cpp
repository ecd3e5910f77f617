#include "pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "sim/clock/virtual_clock.h"

namespace sim {

bool openPty(Pty& pty) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) return false;
    char name[128];
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof name) != 0) {
        closePty(pty);
        return false;
    }
    pty.slaveName = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        closePty(pty);
        return false;
    }
    termios tio{};
    if (tcgetattr(pty.slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(pty.slave, TCSANOW, &tio);
    }
    return true;
}

void closePty(Pty& pty) {
    if (pty.slave >= 0) close(pty.slave);
    if (pty.master >= 0) close(pty.master);
    clock().written();  // a hang-up for whoever still reads the line
    pty.slave = pty.master = -1;
    pty.slaveName.clear();
}

}  // namespace sim
