#include "serial/line_rate.h"

#include <asm/termbits.h>
#include <cstring>
#include <sys/ioctl.h>

static_assert(sizeof(termios2) == sizeof(SavedLine::raw));

bool set_line_rate(int descriptor, int rate) {
    termios2 line{};
    if (rate <= 0 || ioctl(descriptor, TCGETS2, &line) != 0) {
        return false;
    }
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = static_cast<speed_t>(rate);
    line.c_ospeed = static_cast<speed_t>(rate);
    return ioctl(descriptor, TCSETS2, &line) == 0;
}

std::optional<int> line_rate(int descriptor) {
    termios2 line{};
    if (ioctl(descriptor, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(line.c_ospeed);
}

std::optional<SavedLine> save_line(int descriptor) {
    termios2 line{};
    if (ioctl(descriptor, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    SavedLine saved{};
    std::memcpy(saved.raw, &line, sizeof line);
    return saved;
}

bool restore_line(int descriptor, const SavedLine& saved) {
    termios2 line{};
    std::memcpy(&line, saved.raw, sizeof line);
    return ioctl(descriptor, TCSETS2, &line) == 0;
}

bool change_input_flags(int descriptor, unsigned set, unsigned clear) {
    termios2 line{};
    if (ioctl(descriptor, TCGETS2, &line) != 0) {
        return false;
    }
    line.c_iflag = (line.c_iflag & ~clear) | set;
    return ioctl(descriptor, TCSETS2, &line) == 0;
}
