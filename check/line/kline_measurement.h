// What an adapter does on the line when K-line diagnostics ask for more than
// an echo: a break for fast init, a zero byte at 360 baud as the fallback fast
// init, break edges in 200 ms bit slots for slow init. A driver changes the
// line somewhere between a system call and its return (one or more USB
// transfers), so each timing is kept as the bounds the line's change must lie
// in, not as the calls' own time.
#pragma once

#include "check/line/rate_check.h"
#include "check/port/usb_identity.h"
#include "serial/port_opening.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// KWP2000 fast init: the line low for 25 ms (then high for 25 ms).
inline constexpr std::chrono::milliseconds FAST_INIT_LOW{25};
// 5-baud slow init: one bit every 200 ms, ten bits in all.
inline constexpr std::chrono::milliseconds SLOW_INIT_BIT{200};
inline constexpr int SLOW_INIT_SLOTS = 10;
// A real break's clear is one or two USB transfers; a clear held back this
// long waited for the slow zero byte of a simulated break.
inline constexpr std::chrono::milliseconds SIMULATED_BREAK_WAIT{100};
// The rate at which one zero byte holds the line low for 25 ms.
inline constexpr int FALLBACK_INIT_RATE = 360;

using LineSpan = std::chrono::steady_clock::duration;

// Raising a break, waiting FAST_INIT_LOW from the raise's return, clearing it.
struct BreakCheck {
    // Why the check did not run or was cut short; empty when it was measured.
    std::string not_measured;
    // The port went away under the check (not_measured says so).
    bool port_went_away = false;
    bool accepted = false;
    int error = 0; // errno of a refused break
    // The line was low no shorter than from the raise's return to the clear's
    // call, and no longer than from the raise's call to the clear's return.
    LineSpan low_at_least{};
    LineSpan low_at_most{};
    // How long the clear call took: a driver that simulates the break with a
    // slow zero byte holds it back until that byte is out.
    LineSpan clear_took{};
    // What came back on the line within 200 ms after it, read with PARMRK
    // (a reported break is FF 00 00; a driver without line status gives a
    // plain 00).
    std::string received;
    bool line_went_low = false;
    // The driver's break counter went up by this much (TIOCGICOUNT); none
    // when the driver keeps no counter.
    std::optional<int> counted_breaks;
};

// One zero byte at FALLBACK_INIT_RATE.
struct ZeroByteCheck {
    std::string not_measured;
    // The port went away under the check (not_measured says so).
    bool port_went_away = false;
    RateCheck rate;
    bool written = false;
    std::string received;
    std::optional<LineSpan> echo_time; // from the write to the byte's arrival
    LineSpan expected{};               // its wire time, 10 bits
    // No byte arrives before its ninth bit is on the wire: one that came back
    // sooner than earliest_echo was no echo of it at this rate.
    LineSpan earliest_echo{};
    bool sooner_than_the_wire = false;
};

// Where an edge can have fallen against its place in the frame, counted from
// the first edge (which an ECU times the rest by): negative is early.
struct EdgeRange {
    LineSpan earliest{};
    LineSpan latest{};
};

// A system call that changed the line: the change lies somewhere between its
// call and its return.
struct LineCall {
    std::chrono::steady_clock::time_point called;
    std::chrono::steady_clock::time_point returned;
};

// Where the second call's change of the line can lie after the first call's,
// less the span planned between them: no sooner than from the first's return
// to the second's call, no later than from the first's call to the second's
// return. With nothing planned, the bounds of the span itself.
EdgeRange span_between(const LineCall& first, const LineCall& second,
                       LineSpan planned = LineSpan::zero());

// A break toggled through SLOW_INIT_SLOTS bit slots.
struct SlowInitCheck {
    std::string not_measured;
    // The port went away under the check (not_measured says so).
    bool port_went_away = false;
    bool accepted = false;
    int error = 0;
    // Per edge after the first.
    std::vector<EdgeRange> edges;
    // The farthest any edge can be from its slot, and the stray that no
    // placement within the calls' bounds avoids.
    LineSpan worst_possible{};
    LineSpan least_certain{};
};

// The measurements of one port, on one open of it.
struct KlineMeasurement {
    // The port is a pseudo-terminal: it carries no break and no real timing.
    bool pseudo_terminal = false;
    // The port went away before or during the checks (it hung up, or its
    // device left sysfs): none of them is the adapter's.
    bool port_gone = false;
    // What the line brought before anything was sent (with PARMRK), and
    // whether that shows it held low: zero bytes or breaks.
    std::string before_sending;
    bool line_held_low = false;
    BreakCheck fast_break;
    ZeroByteCheck zero_byte;
    SlowInitCheck slow_init;
    // A stop was asked for, or the program was stopped, during the checks.
    bool interrupted = false;
};

// Runs the checks on an open port whose line is set at asked_rate, in order:
// a listen before sending, the break, the zero byte, slow init. A check that
// cannot run (the port went away, a stop was asked for, the program was
// stopped meanwhile) says why in its not_measured. Input waiting before a
// check is dropped only when input_ours (PortOpening::input_ours); otherwise
// what waits is read aside, never flushed. The port's line is left at
// asked_rate. Main thread; the port must be watched by interruption_watch.
KlineMeasurement measure_kline(const OpenPort& port, int asked_rate,
                               std::optional<int> latency_timer_ms, bool input_ours);

// Whether the clear call took so long that the driver must have simulated
// the break with a slow zero byte.
bool break_simulated(const BreakCheck& check);
