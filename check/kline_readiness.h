// Whether an adapter can do what K-line diagnostics need beyond an echo: run
// the rate it was asked for, a break for fast init, a zero byte at 360 baud
// as the fallback fast init, break toggling in 200 ms bit slots for slow init,
// and a short echo latency. Each check says what it measured; the summary
// says only what follows from that.
#pragma once

#include "check/usb_identity.h"
#include "serial/port_opening.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The K-line rate most diagnostic protocols use.
inline constexpr int KLINE_RATE = 10400;
// A UART takes a line up to this far off its own rate.
inline constexpr double RATE_TOLERANCE = 0.02;
// KWP2000 fast init: the line low for 25 ms, then high for 25 ms.
inline constexpr std::chrono::milliseconds FAST_INIT_LOW{25};
// How far raising and clearing a break may run over the 25 ms asked.
inline constexpr std::chrono::milliseconds FAST_INIT_SLACK{5};
// 5-baud slow init: one bit every 200 ms, ten bits in all.
inline constexpr std::chrono::milliseconds SLOW_INIT_BIT{200};
inline constexpr int SLOW_INIT_SLOTS = 10;
// How far a bit edge may stray before an ECU counts the bit wrong.
inline constexpr std::chrono::milliseconds SLOW_INIT_STRAY{5};
// The rate at which one zero byte holds the line low for 25 ms.
inline constexpr int FALLBACK_INIT_RATE = 360;

using Span = std::chrono::steady_clock::duration;

// The rate the driver runs after it was asked for one.
struct RateCheck {
    int asked = 0;
    std::optional<int> read_back; // none when the read failed
    // The read-back is within RATE_TOLERANCE of the rate asked.
    bool within_tolerance = false;
    // The USB identity names a chip whose lowest rate is above the one asked:
    // its driver's read-back cannot be trusted there.
    std::optional<int> chip_lowest_rate;
    std::string chip;
};

// Raising and clearing a break of FAST_INIT_LOW.
struct BreakCheck {
    bool accepted = false;
    int error = 0; // errno of a refused break
    Span raise_and_clear{};
    // What came back on the line within 200 ms after it, as read with
    // PARMRK (a reported break is FF 00 00; a driver without line status
    // gives a plain 00).
    std::string received;
    bool line_went_low = false;
    // The driver's break counter went up by this much (TIOCGICOUNT); none
    // when the driver keeps no counter.
    std::optional<int> counted_breaks;
};

// One zero byte at FALLBACK_INIT_RATE.
struct ZeroByteCheck {
    RateCheck rate;
    bool written = false;
    std::string received;
    std::optional<Span> echo_time; // from the write to the byte's arrival
    Span expected{};               // its wire time
};

// A break toggled through SLOW_INIT_SLOTS bit slots.
struct SlowInitCheck {
    bool accepted = false;
    int error = 0;
    // Per edge, how far the driver's return strayed from the edge's moment.
    std::vector<Span> edge_errors;
    Span worst{};
};

enum class Readiness { yes, no, cannot_tell };

struct ReadinessLine {
    std::string item; // "10400 baud", "fast init by break", ...
    Readiness answer = Readiness::cannot_tell;
    // What was measured and what follows from it, one line.
    std::string reason;
    // What to do; empty for yes.
    std::string fix;
};

struct KlineReadiness {
    // The port is a pseudo-terminal, or no device stands behind it in sysfs:
    // it carries no break and no real timing.
    bool pseudo_terminal = false;
    RateCheck rate;
    bool echo_succeeded = false; // the loopback test at the rate asked
    std::optional<Span> echo_last_byte;
    Span echo_wire_time{};
    std::optional<int> latency_timer_ms;
    BreakCheck fast_break;
    ZeroByteCheck zero_byte;
    SlowInitCheck slow_init;
    std::vector<ReadinessLine> summary;
};

// The rate check of an opened port: asked against read back, and the chip's
// lowest rate where the USB identity names it.
RateCheck check_rate(int asked, std::optional<int> read_back, const std::optional<UsbIdentity>& usb);

// Runs the break, zero-byte and slow-init checks on an open port (its line
// set at the rate asked), then makes the summary with the rate and echo
// results already in readiness. The port's line is left at the rate asked.
void check_kline(const OpenPort& port, KlineReadiness& readiness);

// The rate's line of the summary: whether the line runs the rate asked.
ReadinessLine rate_summary(const RateCheck& rate, bool echo_succeeded);

// The summary of the checks, from the measurements alone.
std::vector<ReadinessLine> readiness_summary(const KlineReadiness& readiness);

// Whether the summary says the port cannot do something asked of it.
bool readiness_fails(const KlineReadiness& readiness);

const char* readiness_word(Readiness answer);
