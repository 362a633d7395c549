// An interrupted test must leave the port as it found it: a signal that ends
// lantoric-check (SIGINT, SIGTERM, SIGHUP) during a test puts the open port's
// line back and gives its exclusive hold up, which would otherwise outlive the
// program and make every later open say "busy", then ends the program by the
// same signal.
#pragma once

#include "serial/line_rate.h"

#include <optional>

// Installs the handlers. Main thread, once, before the first test.
void interruption_install();

// The port a signal must release now: its descriptor and the line it had.
void interruption_watch(int descriptor, const std::optional<SavedLine>& saved);

// No port to release any more (its close has run).
void interruption_clear();
