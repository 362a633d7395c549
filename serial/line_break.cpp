#include "serial/line_break.h"

#include <atomic>
#include <sys/ioctl.h>

namespace {

// One flag a descriptor number, lock-free for the signal handlers that close
// the port; never destroyed.
constexpr int REMEMBERED = 1024;
std::atomic<bool> raised[REMEMBERED];

bool remembered(int descriptor) {
    return descriptor >= 0 && descriptor < REMEMBERED;
}

} // namespace

bool raise_break(int descriptor) {
    if (!remembered(descriptor)) {
        return ioctl(descriptor, TIOCSBRK) == 0;
    }
    // Marked first: a signal between the call and the mark still finds it.
    const bool before = raised[descriptor].exchange(true);
    if (ioctl(descriptor, TIOCSBRK) == 0) {
        return true;
    }
    raised[descriptor].store(before);
    return false;
}

bool clear_break(int descriptor) {
    if (ioctl(descriptor, TIOCCBRK) != 0) {
        return false;
    }
    if (remembered(descriptor)) {
        raised[descriptor].store(false);
    }
    return true;
}

bool break_may_be_held(int descriptor) {
    return !remembered(descriptor) || raised[descriptor].load();
}

void forget_break(int descriptor) {
    if (remembered(descriptor)) {
        raised[descriptor].store(false);
    }
}
