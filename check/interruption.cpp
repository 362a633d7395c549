#include "check/interruption.h"

#include "serial/port_hold.h"
#include "serial/port_opening.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Ctrl-C, kill, a closed terminal: in the summarising modes the first of
// them asks for a stop at the end of the test under way.
constexpr int POLITE_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
// The other signals whose default action ends the program: each ends it at
// once, after the port is given back.
constexpr int ENDING_SIGNALS[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
// The signals whose default action stops the program.
constexpr int STOPPING_SIGNALS[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Written by the main thread, read by the handlers: the descriptor is
// published last and taken with an exchange, so the port is released once.
std::atomic<int> watched_descriptor{-1};
std::optional<SavedLine> watched_line;
// Modes that end with a summary take the first signal as a request.
std::atomic<bool> graceful{false};
std::atomic<bool> requested{false};
std::atomic<int> stops{0};
std::atomic<bool> port_kept{true};
int wake_pipe[2] = {-1, -1};

bool is_polite(int signal_number) {
    for (int polite : POLITE_SIGNALS) {
        if (polite == signal_number) {
            return true;
        }
    }
    return false;
}

// Each handler runs with every other handled signal blocked, so one never
// interrupts another halfway through giving the port back.
void add_handled(sigset_t& set) {
    for (int signal_number : POLITE_SIGNALS) {
        sigaddset(&set, signal_number);
    }
    for (int signal_number : ENDING_SIGNALS) {
        sigaddset(&set, signal_number);
    }
    for (int signal_number : STOPPING_SIGNALS) {
        sigaddset(&set, signal_number);
    }
}

void install_handler(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    add_handled(action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

void release_and_die(int signal_number) {
    if (graceful.load() && is_polite(signal_number) && !requested.exchange(true)) {
        if (wake_pipe[1] >= 0) {
            const int saved_errno = errno;
            const char wake = 1;
            [[maybe_unused]] const ssize_t written = write(wake_pipe[1], &wake, 1);
            errno = saved_errno;
        }
        return;
    }
    const int descriptor = watched_descriptor.exchange(-1);
    if (descriptor >= 0) {
        port_close(descriptor, watched_line);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// While stopped the program holds nothing: no break, the line as it was, no
// exclusive hold. When it continues it takes the port back as it left it,
// unless another program took the hold meanwhile.
void give_back_while_stopped(int signal_number) {
    const int saved_errno = errno;
    const int descriptor = watched_descriptor.load();
    std::optional<SavedLine> in_use;
    if (descriptor >= 0) {
        ioctl(descriptor, TIOCCBRK);
        in_use = save_line(descriptor);
        if (watched_line) {
            restore_line(descriptor, *watched_line);
        }
        serial_release_port(descriptor);
        flock(descriptor, LOCK_UN);
    }
    std::signal(signal_number, SIG_DFL);
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, signal_number);
    sigprocmask(SIG_UNBLOCK, &stopping, nullptr);
    std::raise(signal_number);
    // Continued. Returning restores the mask the handler was entered with.
    install_handler(signal_number, give_back_while_stopped);
    if (descriptor >= 0 && watched_descriptor.load() == descriptor) {
        const bool kept = serial_hold_port(descriptor) == OpeningHold::none;
        if (kept && in_use) {
            restore_line(descriptor, *in_use);
        }
        port_kept.store(kept);
    }
    stops.fetch_add(1);
    errno = saved_errno;
}

// A signal ignored by whoever started the program (nohup's SIGHUP) stays so.
bool ignored_from_start(int signal_number) {
    struct sigaction current {};
    return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

void interruption_install() {
    for (int signal_number : POLITE_SIGNALS) {
        if (!ignored_from_start(signal_number)) {
            install_handler(signal_number, release_and_die);
        }
    }
    for (int signal_number : ENDING_SIGNALS) {
        if (!ignored_from_start(signal_number)) {
            install_handler(signal_number, release_and_die);
        }
    }
    for (int signal_number : STOPPING_SIGNALS) {
        if (!ignored_from_start(signal_number)) {
            install_handler(signal_number, give_back_while_stopped);
        }
    }
}

void interruption_install_graceful() {
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wake_pipe[0] = wake_pipe[1] = -1;
    }
    graceful.store(true);
    interruption_install();
}

bool interruption_requested() {
    return requested.load();
}

int interruption_descriptor() {
    return wake_pipe[0];
}

int interruption_stops() {
    return stops.load();
}

bool interruption_port_kept() {
    return port_kept.load();
}

void interruption_watch(int descriptor, const std::optional<SavedLine>& saved) {
    watched_descriptor.store(-1);
    watched_line = saved;
    port_kept.store(true);
    watched_descriptor.store(descriptor);
}

void interruption_clear() {
    watched_descriptor.store(-1);
}

SignalsDeferred::SignalsDeferred() {
    sigset_t deferred;
    sigemptyset(&deferred);
    add_handled(deferred);
    sigprocmask(SIG_BLOCK, &deferred, &previous_);
}

SignalsDeferred::~SignalsDeferred() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
