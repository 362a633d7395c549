#include "check/interruption.h"

#include "serial/port_opening.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int RELEASING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the main thread, read by the handler: the descriptor is published
// last and taken with an exchange, so the port is released once.
std::atomic<int> watched_descriptor{-1};
std::optional<SavedLine> watched_line;
// Modes that end with a summary take the first signal as a request.
std::atomic<bool> graceful{false};
std::atomic<bool> requested{false};
int wake_pipe[2] = {-1, -1};

void release_and_die(int signal_number) {
    if (graceful.load() && !requested.exchange(true)) {
        if (wake_pipe[1] >= 0) {
            const char wake = 1;
            [[maybe_unused]] const ssize_t written = write(wake_pipe[1], &wake, 1);
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

} // namespace

void interruption_install() {
    for (int signal_number : RELEASING_SIGNALS) {
        struct sigaction action {};
        action.sa_handler = release_and_die;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
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

void interruption_watch(int descriptor, const std::optional<SavedLine>& saved) {
    watched_descriptor.store(-1);
    watched_line = saved;
    watched_descriptor.store(descriptor);
}

void interruption_clear() {
    watched_descriptor.store(-1);
}

SignalsDeferred::SignalsDeferred() {
    sigset_t deferred;
    sigemptyset(&deferred);
    for (int signal_number : RELEASING_SIGNALS) {
        sigaddset(&deferred, signal_number);
    }
    sigprocmask(SIG_BLOCK, &deferred, &previous_);
}

SignalsDeferred::~SignalsDeferred() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
