#include "serial/serial_probe.h"

#include <fcntl.h>
#include <unistd.h>

int serial_probe(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    int descriptor = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return 0;
    }
    close(descriptor);
    return 1;
}
