// The timing of a handshake's steps as bounds: where a change on the line
// lies, as the system calls around it allow us to know, and each step's span
// judged against the standard's window.
#pragma once

#include "check/ecu/ecu_check.h"

#include <chrono>

// Where a change on the line (an edge, a byte's start or end) lies.
struct LineMoment {
    std::chrono::steady_clock::time_point earliest;
    std::chrono::steady_clock::time_point latest;
};

// A window of the standards, from its shortest to its longest span.
struct StepWindow {
    const char* name;
    LineSpan from;
    LineSpan to;
};

// ISO 9141-2 and ISO 14230-2 windows: the ECU's sync byte after the address
// (W1), its key bytes (W2, W3), the inverted bytes either way (W4), an
// answer after a request (P2), and the fast-init wake-up's low phase (TiniL)
// and whole pattern (TWuP), ±1 ms each.
inline constexpr StepWindow W1{"W1", std::chrono::milliseconds(60), std::chrono::milliseconds(300)};
inline constexpr StepWindow W2{"W2", std::chrono::milliseconds(5), std::chrono::milliseconds(20)};
inline constexpr StepWindow W3{"W3", std::chrono::milliseconds(5), std::chrono::milliseconds(20)};
inline constexpr StepWindow W4{"W4", std::chrono::milliseconds(25), std::chrono::milliseconds(50)};
inline constexpr StepWindow P2{"P2", std::chrono::milliseconds(25), std::chrono::milliseconds(50)};
inline constexpr StepWindow TINIL{"TiniL", std::chrono::milliseconds(24),
                                  std::chrono::milliseconds(26)};
inline constexpr StepWindow TWUP{"TWuP", std::chrono::milliseconds(49),
                                 std::chrono::milliseconds(51)};

// yes when the bounds lie inside the window, no when they lie wholly outside
// it, cannot tell otherwise, and cannot tell as well for a window narrower
// than resolution: what the adapter can show at all (its latency timer, its
// USB transfers), however tight the bounds look.
Readiness judge_span(LineSpan at_least, LineSpan at_most, const StepWindow& window,
                     LineSpan resolution);

// The span from the first change to the second, as bounds, judged.
StepTiming step_timing(const StepWindow& window, const LineMoment& first, const LineMoment& second,
                       LineSpan resolution);

// "W4 31.0 to 48.2 ms, window 25.0 to 50.0 ms", for a diagnosis's detail.
std::string timing_text(const StepTiming& timing);
