// An interrupted test must leave the port as it found it. A signal whose
// default action ends lantoric-check (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
// SIGUSR2, SIGALRM, the real-time signals and the rest) during a test clears a
// break, puts the open port's line back and gives its exclusive hold up, which
// would otherwise outlive the program and make every later open say "busy",
// then ends the program by the same signal. A signal that stops it (SIGTSTP,
// SIGTTIN, SIGTTOU) gives the port back the same way for as long as the
// program is stopped, so a stopped program never holds the bus low; when it
// continues it takes the port back only as a new opening would. A signal the
// program was started with ignored stays ignored, one a runtime handles
// already (a sanitizer, a profiler) stays the runtime's, and one it was
// started with blocked is unblocked.
#pragma once

#include "base/deadline.h"
#include "serial/line_rate.h"

#include <csignal>
#include <optional>

// Installs the handlers and unblocks their signals. Main thread, once,
// before the first test.
void interruption_install();

// For the modes that end with a summary (--watch, --duration) and for the
// ECU check, whose session is ended before the port goes: the first polite
// signal (INT, TERM, HUP) only asks the program to stop, once the test under
// way has ended; a second one releases the port and ends the program as above.
void interruption_install_graceful();

// Whether a signal asked the program to stop.
bool interruption_requested();

// After a stop asked for by a signal: the program ends by that signal, as
// its default action would have ended it, so that whoever started it (a
// shell's loop, a script) sees it interrupted. Call with the port given back
// and the output written; returns when no signal asked for a stop.
void interruption_end_as_asked();

// A descriptor that becomes readable when a signal asks the program to stop,
// for a wait in poll; -1 when there is none.
int interruption_descriptor();

// The stop request for a wait in poll_until: interruption_descriptor and
// interruption_requested.
StopRequest interruption_stop_request();

// How many times the program was stopped and continued so far. A measurement
// during which this changed was cut by a stop: the line was given back to
// its old settings meanwhile, and its timing means nothing.
int interruption_stops();

// Whether the program was stopped and continued since this was made, by
// interruption_stops. Main thread.
class StoppedSince {
  public:
    StoppedSince() : stops_before_(interruption_stops()) {}
    bool stopped() const { return interruption_stops() != stops_before_; }

  private:
    int stops_before_;
};

// What a stop does to the port watched when the program continues.
enum class AfterStop {
    // Let go as the stop left it: what was under way is repeated on a new
    // opening, which takes the port as any opening does.
    let_go,
    // Taken back, unless another program holds it now or set its line
    // meanwhile: a measurement goes on on the same opening.
    take_back,
    // The same, and not when another program merely has it open (an opening
    // that refused sharing).
    take_back_alone,
};

// Whether the port watched now is still this program's after the stops so
// far. Once it is not, the port was let go as the other program found it and
// its descriptor leads nowhere: nothing more is read from it, and its close
// puts nothing back. With take_back_alone, the first call after a stop looks
// for other programs that opened the port meanwhile. Main thread.
bool interruption_port_kept();

// The port a signal must release now: its descriptor, the line it had, and
// what a stop does to it. Main thread.
void interruption_watch(int descriptor, const std::optional<SavedLine>& saved,
                        AfterStop after_stop);

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
