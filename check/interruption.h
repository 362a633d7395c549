// An interrupted test must leave the port as it found it: a signal that ends
// lantoric-check (SIGINT, SIGTERM, SIGHUP) during a test puts the open port's
// line back and gives its exclusive hold up, which would otherwise outlive the
// program and make every later open say "busy", then ends the program by the
// same signal.
#pragma once

#include "serial/line_rate.h"

#include <csignal>
#include <optional>

// Installs the handlers. Main thread, once, before the first test.
void interruption_install();

// For the modes that end with a summary (--watch, --duration): the first of
// those signals only asks the program to stop, once the test under way has
// ended; a second one releases the port and ends the program as above.
void interruption_install_graceful();

// Whether a signal asked the program to stop.
bool interruption_requested();

// A descriptor that becomes readable when a signal asks the program to stop,
// for a wait in poll; -1 when there is none.
int interruption_descriptor();

// The port a signal must release now: its descriptor and the line it had.
void interruption_watch(int descriptor, const std::optional<SavedLine>& saved);

// No port to release any more (its close has run).
void interruption_clear();

// Holds those signals back while it lives: from the moment an opening takes
// a port's hold until interruption_watch knows the port, and from the close
// until interruption_clear, a signal would otherwise find a held port it
// does not know of. A signal that came meanwhile is handled at the end.
class SignalsDeferred {
  public:
    SignalsDeferred();
    ~SignalsDeferred();
    SignalsDeferred(const SignalsDeferred&) = delete;
    SignalsDeferred& operator=(const SignalsDeferred&) = delete;

  private:
    sigset_t previous_;
};
