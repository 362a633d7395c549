// The 5-baud address of ISO 9141-2, KWP2000 slow init and KW1281: one byte
// sent by hand as break changes, ten 200 ms bit slots (a start bit low, eight
// data bits LSB first, a stop bit high). Each edge's place is kept as the
// bounds its system call allows, against the grid counted from the start
// bit's falling edge, which the ECU times the rest by.
#pragma once

#include "check/ecu/step_timing.h"
#include "check/line/kline_readiness.h"

#include <array>
#include <vector>

// Per slot, whether the line is low (a break) in it.
using FiveBaudPlan = std::array<bool, SLOW_INIT_SLOTS>;

FiveBaudPlan five_baud_plan(unsigned char byte);

// The seven-bit address with bit 7 made its odd-parity bit, as KW1281
// sends it (0x01 stays 0x01).
unsigned char with_odd_parity(int address);

// Whether a byte has an odd number of one bits, as key bytes must.
bool odd_parity(unsigned char byte);

// How far an edge may stray from its slot: an ECU samples each bit near its
// middle.
inline constexpr StepWindow BIT_EDGES{"bit edges", -SLOW_INIT_STRAY, SLOW_INIT_STRAY};

struct FiveBaudSending {
    // All ten bits went out; false when the driver refused a break change
    // (error) or a stop cut the byte short (the line is high again either way).
    bool sent = false;
    int error = 0;
    bool stopped = false;
    // Per edge after the first, against its place on the grid.
    std::vector<EdgeRange> edges;
    // Where the stop bit ends.
    LineMoment end;
    // The worst edge against BIT_EDGES.
    StepTiming bits;
};

// Sends the byte as break changes. Main thread; ends early on a stop
// request or a stop of the program.
FiveBaudSending send_five_baud(int descriptor, unsigned char byte, LineSpan resolution);
