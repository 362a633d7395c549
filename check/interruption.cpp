#include "check/interruption.h"

#include "serial/port_opening.h"

#include <atomic>
#include <csignal>

namespace {

constexpr int RELEASING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the main thread, read by the handler: the descriptor is published
// last and taken with an exchange, so the port is released once.
std::atomic<int> watched_descriptor{-1};
std::optional<SavedLine> watched_line;

void release_and_die(int signal_number) {
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
