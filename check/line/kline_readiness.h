// Whether an adapter can do what K-line diagnostics need beyond an echo, said
// for a mechanic: run the rate asked, fast init by break, fast init by a zero
// byte at 360 baud, slow init. Each line follows only from what was measured:
// "no" only when the line certainly missed a limit or the driver refused or
// simulated the break, "cannot tell" when the measurement does not decide.
#pragma once

#include "check/line/kline_measurement.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The K-line rate most diagnostic protocols use.
inline constexpr int KLINE_RATE = 10400;
// The longest low phase taken as a fast-init wake-up. ISO 14230-2 asks the
// tester for a low phase (TiniL) of 25 ± 1 ms in a 50 ± 1 ms wake-up
// pattern. Over USB each break change is one or two control transfers, and
// the line may change anywhere inside them, so no USB adapter can be shown
// to keep ±1 ms: a low phase proven to lie between 25 and 30 ms is taken as
// enough, which still leaves the pattern's high phase 20 ms.
inline constexpr std::chrono::milliseconds FAST_INIT_LONGEST{30};
// How far a slow-init bit edge may stray from its 200 ms slot, counted from
// the first edge. ISO 9141-2 sends the address at 5 bit/s; an ECU samples
// each bit near its middle, so 5 ms (2.5 % of a bit) keeps every sample far
// inside its bit.
inline constexpr std::chrono::milliseconds SLOW_INIT_STRAY{5};

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
    RateCheck rate;
    bool echo_succeeded = false; // the loopback test at the rate asked
    std::optional<LineSpan> echo_last_byte;
    LineSpan echo_wire_time{};
    std::optional<int> latency_timer_ms;
    // Why nothing was measured (the port did not open again); empty when the
    // checks ran.
    std::string not_measured;
    // False when the port did not open again for the checks.
    bool reopened = true;
    KlineMeasurement measured;
    std::vector<ReadinessLine> summary;
};

// The rate's line when the rate check alone decides it: the chip cannot be
// trusted at the rate, the driver did not say or runs another; none when the
// line runs the rate asked.
std::optional<ReadinessLine> rate_problem(const RateCheck& rate);

// The rate's line of the summary: whether the line runs the rate asked, and
// the echo came back at it.
ReadinessLine rate_summary(const RateCheck& rate, bool echo_succeeded);

// The summary of the checks, from the measurements alone.
std::vector<ReadinessLine> readiness_summary(const KlineReadiness& readiness);

// Whether the summary says the port cannot do something asked of it.
bool readiness_fails(const KlineReadiness& readiness);

// The first line of the summary that could not tell; none when every line
// decided.
const ReadinessLine* first_unproven(const KlineReadiness& readiness);

const char* readiness_word(Readiness answer);
