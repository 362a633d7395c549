#include "serial/port_hold.h"

#include <cerrno>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

OpeningHold serial_hold_port(int descriptor) {
    bool terminal = isatty(descriptor) != 0;
    // Root's opens pass another program's TIOCEXCL, so it is asked for here.
    int already_exclusive = 0;
    if (terminal && ioctl(descriptor, TIOCGEXCL, &already_exclusive) == 0 &&
        already_exclusive != 0) {
        return OpeningHold::exclusive;
    }
    // Exclusive first, so the time in which another open can slip in is short.
    if (terminal) {
        ioctl(descriptor, TIOCEXCL);
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        if (terminal) {
            ioctl(descriptor, TIOCNXCL);
        }
        return OpeningHold::flock;
    }
    return OpeningHold::none;
}

void serial_release_port(int descriptor) {
    // Fails harmlessly with ENOTTY on a node that is no terminal.
    ioctl(descriptor, TIOCNXCL);
}
