// One port under test, from its opening to its close: the exclusive hold and
// the saved line the opening takes, the break a measurement raises, and the
// signals held back at both ends, so that a signal never finds a held port it
// does not know of. However a test ends, the guard's end gives the port back
// and says on standard error when its line could not be put back.
#pragma once

#include "check/port/interruption.h"
#include "serial/port_opening.h"
#include "base/registry.h"

#include <string>

class LineGuard {
  public:
    // Opens the port as request asks; when it opened, a signal from then on
    // releases it, and a stop does what after_stop says. what_ran names the
    // work for the line on standard error ("the test", "the K-line checks").
    LineGuard(const PortRequest& request, AfterStop after_stop, const char* what_ran);
    ~LineGuard() { give_back(); }
    LineGuard(const LineGuard&) = delete;
    LineGuard& operator=(const LineGuard&) = delete;

    bool opened() const { return opened_; }
    // The opening: why it failed, the rate read back, whether waiting input
    // is ours. Its port is empty once adopted.
    const PortOpening& opening() const { return opening_; }
    const OpenPort& port() const { return opening_.port; }

    // Whether the program was stopped and continued since the port opened:
    // what ran on it meanwhile was cut by the stop.
    bool stopped() const { return stops_.stopped(); }

    // Hands the port to the serial table, for the window's exchange, which
    // works on numbered ports; the guard still closes it. 0 when the table
    // could not take it: the port is let go then.
    [[nodiscard]] object_number adopt();

    // Puts the line back and lets the port go now; the end of the guard does
    // it otherwise. Once only.
    void give_back();

  private:
    std::string path_;
    const char* what_ran_;
    PortOpening opening_;
    bool opened_ = false;
    object_number adopted_ = 0;
    StoppedSince stops_;
};
