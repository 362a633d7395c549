#include "check/port/interruption.h"

#include "serial/line_break.h"
#include "serial/port_hold.h"
#include "serial/port_holders.h"
#include "serial/port_opening.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ctrl-C, kill, a closed terminal: in the summarising modes the first of
// them asks for a stop at the end of the test under way.
constexpr int POLITE_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
// The other signals whose default action ends the program: each ends it at
// once, after the port is given back. The program's own faults are among
// them: the release is system calls on a descriptor and a saved line alone,
// and the signal then ends the program as it would have, core dump included.
constexpr int ENDING_SIGNALS[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                                  SIGXCPU, SIGXFSZ, SIGPWR,  SIGIO,   SIGSTKFLT, SIGSYS,
                                  SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,    SIGSEGV};
// The signals whose default action stops the program.
constexpr int STOPPING_SIGNALS[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Written by the main thread, read by the handlers: the descriptor is
// published last and taken with an exchange, so the port is released once.
std::atomic<int> watched_descriptor{-1};
std::optional<SavedLine> watched_line;
AfterStop watched_after_stop = AfterStop::let_go;
dev_t watched_device = 0;
// Modes that end with a summary take the first signal as a request.
std::atomic<bool> graceful{false};
std::atomic<bool> requested{false};
std::atomic<int> requested_by{0};
std::atomic<int> stops{0};
std::atomic<bool> port_kept{true};
// The stops after which the main thread last looked for the port's other
// openers.
int looked_after_stops = 0;
int wake_pipe[2] = {-1, -1};
// The read end of a pipe with no writer: a port let go is replaced by it
// under the same descriptor number, so every later call on that number
// (a read, a restore, the close) reaches nothing of the port's new owner.
int dead_end = -1;
// Every signal a handler is installed for, blocked during each handler so
// that one never interrupts another halfway through giving the port back.
// Set by interruption_install before the first handler can run.
sigset_t handled;

// Each signal this program handles, with its handler.
void release_and_die(int signal_number);
void give_back_while_stopped(int signal_number);
template <typename Visit> void for_each_handled(Visit visit) {
    for (int signal_number : POLITE_SIGNALS) {
        visit(signal_number, release_and_die);
    }
    for (int signal_number : ENDING_SIGNALS) {
        visit(signal_number, release_and_die);
    }
    // The real-time signals end the program by default too.
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
        visit(signal_number, release_and_die);
    }
    for (int signal_number : STOPPING_SIGNALS) {
        visit(signal_number, give_back_while_stopped);
    }
}

sigset_t all_handled() {
    sigset_t set;
    sigemptyset(&set);
    for_each_handled([&set](int signal_number, auto) { sigaddset(&set, signal_number); });
    return set;
}

bool is_polite(int signal_number) {
    for (int polite : POLITE_SIGNALS) {
        if (polite == signal_number) {
            return true;
        }
    }
    return false;
}

void install_handler(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_mask = handled;
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

void release_and_die(int signal_number) {
    if (graceful.load() && is_polite(signal_number) && !requested.exchange(true)) {
        requested_by.store(signal_number);
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
        // A handler about to end the program has no one to tell, and no safe
        // way to print: the next opening finds the line as it is.
        (void)port_close(descriptor, watched_line);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Lets the port go without touching it: the hold this program took back is
// given up, and the descriptor leads nowhere from now on. System calls only.
void let_go(int descriptor, bool holding) {
    if (holding) {
        serial_release_port(descriptor);
        flock(descriptor, LOCK_UN);
    }
    if (dead_end >= 0) {
        dup3(dead_end, descriptor, O_CLOEXEC);
    }
}

bool same_line(const std::optional<SavedLine>& one, const std::optional<SavedLine>& other) {
    return one && other ? std::memcmp(one->raw, other->raw, sizeof one->raw) == 0
                        : one.has_value() == other.has_value();
}

// When the program continues, a port watched to be taken back is held again
// as a new opening would hold it, with the line it had in use. One watched to
// be let go, one another program holds now, or one whose line another program
// set meanwhile, is let go as it is. Each call is a system call, or memcmp,
// on what the watch published.
void take_back(int descriptor, const std::optional<SavedLine>& in_use,
               const std::optional<SavedLine>& left) {
    const bool held = watched_after_stop != AfterStop::let_go &&
                      serial_hold_port(descriptor) == OpeningHold::none;
    if (held && same_line(save_line(descriptor), left)) {
        if (in_use) {
            // In a handler: a line that refuses its settings back shows in the
            // measurement that goes on, which the stop marks as cut anyway.
            (void)restore_line(descriptor, *in_use);
        }
        return;
    }
    let_go(descriptor, held);
    port_kept.store(false);
}

// The signal's default action, now, even from its own handler.
void raise_by_default(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal_number);
}

// While stopped the program holds nothing: no break, the line as it was, no
// exclusive hold.
void give_back_while_stopped(int signal_number) {
    const int saved_errno = errno;
    const int descriptor = watched_descriptor.load();
    std::optional<SavedLine> in_use;
    std::optional<SavedLine> left;
    if (descriptor >= 0) {
        // What this program queued goes: a port given back is not written to,
        // and the close of one let go would wait for its output to drain.
        // In a handler, about to stop: no one to tell and no safe way to
        // print; the line as the driver keeps it is compared when continued.
        (void)clear_break(descriptor);
        tcflush(descriptor, TCOFLUSH);
        in_use = save_line(descriptor);
        if (watched_line) {
            (void)restore_line(descriptor, *watched_line);
        }
        // Read back, as the driver keeps it, to be compared when continued.
        left = save_line(descriptor);
        serial_release_port(descriptor);
        flock(descriptor, LOCK_UN);
    }
    raise_by_default(signal_number);
    // Continued. Returning restores the mask the handler was entered with.
    install_handler(signal_number, give_back_while_stopped);
    if (descriptor >= 0 && watched_descriptor.load() == descriptor && port_kept.load()) {
        take_back(descriptor, in_use, left);
    }
    stops.fetch_add(1);
    errno = saved_errno;
}

// A signal ignored by whoever started the program (nohup's SIGHUP) stays so,
// and one a runtime handles already (a sanitizer's SIGSEGV, a profiler's
// SIGPROF) stays its own.
bool default_at_start(int signal_number) {
    struct sigaction current {};
    return sigaction(signal_number, nullptr, &current) == 0 &&
           (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
}

} // namespace

void interruption_install() {
    int no_writer[2] = {-1, -1};
    if (dead_end < 0 && pipe2(no_writer, O_CLOEXEC) == 0) {
        close(no_writer[1]);
        dead_end = no_writer[0];
    }
    handled = all_handled();
    // A signal blocked by whoever started the program (some service managers
    // do) would otherwise wait for ever.
    sigset_t unblocked;
    sigemptyset(&unblocked);
    for_each_handled([&unblocked](int signal_number, void (*handler)(int)) {
        if (default_at_start(signal_number)) {
            install_handler(signal_number, handler);
            sigaddset(&unblocked, signal_number);
        }
    });
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
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

void interruption_end_as_asked() {
    const int signal_number = requested_by.load();
    if (signal_number == 0) {
        return;
    }
    raise_by_default(signal_number);
}

int interruption_descriptor() {
    return wake_pipe[0];
}

StopRequest interruption_stop_request() {
    return {interruption_descriptor(), interruption_requested};
}

int interruption_stops() {
    return stops.load();
}

bool interruption_port_kept() {
    const int stops_now = stops.load();
    if (stops_now == looked_after_stops || watched_after_stop != AfterStop::take_back_alone) {
        return port_kept.load();
    }
    looked_after_stops = stops_now;
    if (port_kept.load() && shared_with_others(port_holders(watched_device))) {
        // Opened by another program while this one was stopped: it found the
        // line as it was, and gets it back so, without this program's hold.
        SignalsDeferred deferred;
        const int descriptor = watched_descriptor.load();
        if (descriptor >= 0) {
            const bool held = break_may_be_held(descriptor);
            const bool cleared = clear_break(descriptor) || !held;
            const bool put_back =
                (!watched_line || restore_line(descriptor, *watched_line)) && cleared;
            let_go(descriptor, true);
            if (!put_back) {
                std::fprintf(stderr, "lantoric-check: the line could not be put back as it was "
                                     "for the program that opened the port meanwhile\n");
            }
        }
        port_kept.store(false);
    }
    return port_kept.load();
}

void interruption_watch(int descriptor, const std::optional<SavedLine>& saved,
                        AfterStop after_stop) {
    watched_descriptor.store(-1);
    watched_line = saved;
    watched_after_stop = after_stop;
    struct stat status {};
    watched_device = fstat(descriptor, &status) == 0 ? status.st_rdev : 0;
    looked_after_stops = stops.load();
    port_kept.store(true);
    watched_descriptor.store(descriptor);
}

void interruption_clear() {
    watched_descriptor.store(-1);
}

SignalsDeferred::SignalsDeferred() {
    const sigset_t deferred = all_handled();
    sigprocmask(SIG_BLOCK, &deferred, &previous_);
}

SignalsDeferred::~SignalsDeferred() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
