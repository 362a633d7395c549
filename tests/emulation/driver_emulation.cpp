// Driver behaviours no pseudo-terminal has, for tests only: preloaded into
// lantoric-check (LD_PRELOAD), it answers the system calls on one port the way
// a named USB serial driver does and puts on the line the bytes that driver
// would deliver. A port with any behaviour has a device behind it in sysfs,
// as a USB serial port has. Everything else goes to the C library untouched.
//
//   LANTORIC_EMULATED_PORT    the port's path; its device number picks the
//                             descriptors to answer for
//   LANTORIC_EMULATED_DRIVER  comma-separated behaviours:
//     refused-break   TIOCSBRK and TIOCCBRK fail with EPIPE, as some PL2303
//                     clones' drivers answer the break request they stall on
//     slow-break      the break is a zero byte sent at a low rate, as the
//                     CH341 driver emulates it on chips without a break: the
//                     clear returns about 200 ms after the raise, whatever
//                     was asked, and a plain 00 arrives
//     marked-break    the driver reports line status (FTDI): a break arrives
//                     as FF 00 00 with PARMRK set (00 without), and the
//                     break counter of TIOCGICOUNT counts it
//     plain-break     the driver reports no line status: a break arrives as
//                     a plain 00
//     refused-rate=A  asked for A baud, the driver refuses it (EINVAL)
//     rate=A:B        asked for A baud, the driver runs and reads back B (a
//                     CP210x driver maps 10400 to 14400; the FTDI driver
//                     falls back to 9600 for 4000000)
//     slow-close      the port's close hangs, as a stuck adapter's driver's
//                     may, until the adapter is unplugged (the node at
//                     LANTORIC_EMULATED_PORT gone), at most 30 s
//     slow-flock      flock on the port returns after a second, as on a
//                     loaded machine, while the port's hold is taken
//     slow-raise=MS   raising a break takes MS milliseconds, as USB transfers
//                     do; the line goes low as the call returns
//     slow-write=MS   bytes written reach the line MS milliseconds late, as
//                     through an adapter whose USB transfers queue behind
//                     others; the write returns at once
//     unplug-at=WHEN  the adapter is unplugged: the port hangs up and its
//                     device leaves sysfs, as the break counter is first
//                     read (WHEN listen) or as a break is raised (break)
//     stuck-output    output never leaves: TIOCOUTQ always counts a byte
//     sigint-at-360   SIGINT comes 5 ms into the first wait for input while
//                     the line runs at 360 baud
//   LANTORIC_EMULATED_LOG     optional: a file that gets one line per break
//                             change the port took, "on MS" or "off MS", MS
//                             the steady clock in milliseconds, as a chip
//                             would see the line, and "flush MS" for each
//                             drop of the port's input
#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Emulation {
    bool ready = false;
    dev_t port = 0;
    bool refused_break = false;
    bool slow_break = false;
    bool marked_break = false;
    bool plain_break = false;
    bool slow_flock = false;
    unsigned long rate_refused = 0;
    unsigned long rate_asked = 0;
    unsigned long rate_run = 0;
    std::chrono::milliseconds raise_takes{0};
    std::chrono::milliseconds write_takes{0};
    std::string unplug_at;
    bool stuck_output = false;
    bool sigint_at_360 = false;
    // Bytes the line delivers before anything the pseudo-terminal holds.
    std::string injected;
    int breaks = 0;
    bool break_raised = false;
    Clock::time_point raised_at;
    int log = -1;
    bool device_in_sysfs = false;
    std::mutex lock;
};

// One line an event: written whole with one write, so a reader never sees
// half of one.
void log_event(const Emulation& state, const char* event) {
    if (state.log < 0) {
        return;
    }
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count();
    const std::string line = std::string(event) + " " + std::to_string(ms) + "\n";
    [[maybe_unused]] const ssize_t written = write(state.log, line.data(), line.size());
}

Emulation& emulation() {
    static Emulation* state = [] {
        auto* made = new Emulation;
        const char* path = std::getenv("LANTORIC_EMULATED_PORT");
        const char* driver = std::getenv("LANTORIC_EMULATED_DRIVER");
        struct stat status {};
        if (path == nullptr || driver == nullptr || stat(path, &status) != 0) {
            return made;
        }
        made->port = status.st_rdev;
        made->ready = true;
        if (const char* log = std::getenv("LANTORIC_EMULATED_LOG")) {
            made->log = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        }
        std::string behaviours = driver;
        for (std::size_t at = 0; at <= behaviours.size();) {
            std::size_t end = behaviours.find(',', at);
            end = end == std::string::npos ? behaviours.size() : end;
            const std::string name = behaviours.substr(at, end - at);
            made->refused_break |= name == "refused-break";
            made->slow_break |= name == "slow-break";
            made->marked_break |= name == "marked-break";
            made->plain_break |= name == "plain-break";
            made->slow_flock |= name == "slow-flock";
            made->stuck_output |= name == "stuck-output";
            made->sigint_at_360 |= name == "sigint-at-360";
            if (name.rfind("slow-raise=", 0) == 0) {
                made->raise_takes = std::chrono::milliseconds(std::atoi(name.c_str() + 11));
            }
            if (name.rfind("slow-write=", 0) == 0) {
                made->write_takes = std::chrono::milliseconds(std::atoi(name.c_str() + 11));
            }
            if (name.rfind("unplug-at=", 0) == 0) {
                made->unplug_at = name.substr(10);
            }
            if (name.rfind("refused-rate=", 0) == 0) {
                made->rate_refused = std::strtoul(name.c_str() + 13, nullptr, 10);
            }
            if (name.rfind("rate=", 0) == 0) {
                made->rate_asked = std::strtoul(name.c_str() + 5, nullptr, 10);
                const auto colon = name.find(':');
                made->rate_run = colon == std::string::npos
                                     ? 0
                                     : std::strtoul(name.c_str() + colon + 1, nullptr, 10);
            }
            at = end + 1;
        }
        made->device_in_sysfs = !behaviours.empty();
        return made;
    }();
    return *state;
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int real_ioctl(int descriptor, unsigned long request, void* argument) {
    static auto call = next<int (*)(int, unsigned long, ...)>("ioctl");
    return call(descriptor, request, argument);
}

bool is_port(int descriptor) {
    Emulation& state = emulation();
    struct stat status {};
    return state.ready && fstat(descriptor, &status) == 0 && S_ISCHR(status.st_mode) &&
           status.st_rdev == state.port;
}

// What the line brings when the break ends, as the driver delivers it.
void deliver_break(int descriptor, Emulation& state) {
    termios2 line{};
    real_ioctl(descriptor, TCGETS2, &line);
    if (state.marked_break) {
        state.injected +=
            (line.c_iflag & PARMRK) ? std::string("\xff\0\0", 3) : std::string(1, '\0');
        ++state.breaks;
    } else if (state.plain_break || state.slow_break) {
        state.injected.push_back('\0');
    }
}

// The adapter unplugged when: the port hangs up, its device leaves sysfs.
void unplug_at(const char* when, int descriptor) {
    Emulation& state = emulation();
    if (state.unplug_at == when) {
        state.unplug_at.clear();
        state.device_in_sysfs = false;
        real_ioctl(descriptor, TIOCVHANGUP, nullptr);
    }
}

int answer_ioctl(int descriptor, unsigned long request, void* argument) {
    Emulation& state = emulation();
    switch (request) {
    case TIOCSBRK:
    case TIOCCBRK: {
        if (request == TIOCSBRK) {
            unplug_at("break", descriptor);
            std::this_thread::sleep_for(state.raise_takes);
        }
        if (state.refused_break) {
            errno = EPIPE;
            return -1;
        }
        if (request == TIOCSBRK) {
            std::scoped_lock hold(state.lock);
            if (!state.break_raised) {
                log_event(state, "on");
            }
            state.break_raised = true;
            state.raised_at = Clock::now();
            return real_ioctl(descriptor, request, argument);
        }
        // Clearing a line that is not held low delivers nothing.
        if (!state.break_raised) {
            return real_ioctl(descriptor, request, argument);
        }
        if (state.slow_break) {
            std::this_thread::sleep_until(state.raised_at + std::chrono::milliseconds(200));
        }
        std::scoped_lock hold(state.lock);
        state.break_raised = false;
        log_event(state, "off");
        deliver_break(descriptor, state);
        return real_ioctl(descriptor, request, argument);
    }
    case TCSETS2:
        if (state.rate_refused != 0 &&
            static_cast<const termios2*>(argument)->c_ospeed == state.rate_refused) {
            errno = EINVAL;
            return -1;
        }
        return real_ioctl(descriptor, request, argument);
    case TIOCOUTQ:
        if (state.stuck_output) {
            *static_cast<int*>(argument) = 1;
            return 0;
        }
        return real_ioctl(descriptor, request, argument);
    case TCGETS2: {
        const int result = real_ioctl(descriptor, request, argument);
        auto* line = static_cast<termios2*>(argument);
        if (result == 0 && state.rate_asked != 0 && line->c_ospeed == state.rate_asked) {
            line->c_ispeed = static_cast<speed_t>(state.rate_run);
            line->c_ospeed = static_cast<speed_t>(state.rate_run);
        }
        return result;
    }
    case TIOCGICOUNT: {
        unplug_at("listen", descriptor);
        if (!state.marked_break) {
            return real_ioctl(descriptor, request, argument);
        }
        serial_icounter_struct counters{};
        counters.brk = state.breaks;
        std::memcpy(argument, &counters, sizeof counters);
        return 0;
    }
    case FIONREAD: {
        const int result = real_ioctl(descriptor, request, argument);
        std::scoped_lock hold(state.lock);
        if (result == 0) {
            *static_cast<int*>(argument) += static_cast<int>(state.injected.size());
        }
        return result;
    }
    default:
        return real_ioctl(descriptor, request, argument);
    }
}

bool has_injected() {
    Emulation& state = emulation();
    std::scoped_lock hold(state.lock);
    return !state.injected.empty();
}

// SIGINT 5 ms into the first wait for input on the port at 360 baud.
void interrupt_at_360(const pollfd* entries, nfds_t count) {
    termios2 line{};
    if (emulation().sigint_at_360 && count == 1 && is_port(entries[0].fd) &&
        real_ioctl(entries[0].fd, TCGETS2, &line) == 0 && line.c_ospeed == 360) {
        emulation().sigint_at_360 = false;
        std::thread([] {
            usleep(5000);
            kill(getpid(), SIGINT);
        }).detach();
    }
}

// Marks injected input on the port's entries; how many entries it marked
// that the real poll had not.
int mark_injected(pollfd* entries, nfds_t count) {
    if (!has_injected()) {
        return 0;
    }
    int added = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if ((entries[i].events & POLLIN) && is_port(entries[i].fd)) {
            added += entries[i].revents == 0 ? 1 : 0;
            entries[i].revents |= POLLIN;
        }
    }
    return added;
}

// Whether the behaviours name slow-close.
bool closes_slowly() {
    static const bool named = [] {
        const char* driver = std::getenv("LANTORIC_EMULATED_DRIVER");
        return driver != nullptr &&
               ("," + std::string(driver) + ",").find(",slow-close,") != std::string::npos;
    }();
    return named;
}

void wait_until_unplugged() {
    const char* path = std::getenv("LANTORIC_EMULATED_PORT");
    const Clock::time_point until = Clock::now() + std::chrono::seconds(30);
    struct stat status {};
    while (path != nullptr && stat(path, &status) == 0 && status.st_rdev == emulation().port &&
           Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

extern "C" {

int close(int descriptor) {
    static auto call = next<int (*)(int)>("close");
    if (closes_slowly() && is_port(descriptor)) {
        wait_until_unplugged();
    }
    return call(descriptor);
}

int flock(int descriptor, int operation) {
    if (is_port(descriptor) && emulation().slow_flock) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return next<int (*)(int, int)>("flock")(descriptor, operation);
}

int ioctl(int descriptor, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (is_port(descriptor)) {
        return answer_ioctl(descriptor, request, argument);
    }
    return real_ioctl(descriptor, request, argument);
}

ssize_t read(int descriptor, void* buffer, size_t length) {
    static auto call = next<ssize_t (*)(int, void*, size_t)>("read");
    if (length > 0 && is_port(descriptor)) {
        Emulation& state = emulation();
        std::scoped_lock hold(state.lock);
        if (!state.injected.empty()) {
            const std::size_t count = std::min(length, state.injected.size());
            std::memcpy(buffer, state.injected.data(), count);
            state.injected.erase(0, count);
            return static_cast<ssize_t>(count);
        }
    }
    return call(descriptor, buffer, length);
}

ssize_t write(int descriptor, const void* buffer, size_t length) {
    static auto call = next<ssize_t (*)(int, const void*, size_t)>("write");
    const std::chrono::milliseconds takes = emulation().write_takes;
    if (length == 0 || takes.count() == 0 || !is_port(descriptor)) {
        return call(descriptor, buffer, length);
    }
    // Taken at once, on the line later: the bytes wait in the adapter.
    const int line = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    std::thread([line, takes, bytes = std::string(static_cast<const char*>(buffer), length)] {
        std::this_thread::sleep_for(takes);
        [[maybe_unused]] const ssize_t written = call(line, bytes.data(), bytes.size());
        close(line);
    }).detach();
    return static_cast<ssize_t>(length);
}

int poll(pollfd* entries, nfds_t count, int timeout) {
    static auto call = next<int (*)(pollfd*, nfds_t, int)>("poll");
    interrupt_at_360(entries, count);
    const int result = call(entries, count, has_injected() ? 0 : timeout);
    return result < 0 ? result : result + mark_injected(entries, count);
}

int tcflush(int descriptor, int queue) {
    static auto call = next<int (*)(int, int)>("tcflush");
    if (queue != TCOFLUSH && is_port(descriptor)) {
        log_event(emulation(), "flush");
    }
    return call(descriptor, queue);
}

int access(const char* path, int mode) {
    static auto call = next<int (*)(const char*, int)>("access");
    Emulation& state = emulation();
    if (state.device_in_sysfs && std::string(path) == "/sys/dev/char/" +
                                                          std::to_string(major(state.port)) + ":" +
                                                          std::to_string(minor(state.port))) {
        return 0;
    }
    return call(path, mode);
}

int ppoll(pollfd* entries, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    static auto call = next<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
    interrupt_at_360(entries, count);
    const timespec now{0, 0};
    const int result = call(entries, count, has_injected() ? &now : timeout, mask);
    return result < 0 ? result : result + mark_injected(entries, count);
}

} // extern "C"
