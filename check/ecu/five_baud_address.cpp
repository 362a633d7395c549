#include "check/ecu/five_baud_address.h"

#include "base/deadline.h"
#include "check/port/interruption.h"
#include "serial/line_break.h"

#include <algorithm>
#include <bit>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until then unless a stop is asked for first; false then.
bool wait_until(Clock::time_point then) {
    return poll_until({}, Deadline(then), interruption_stop_request()) != WaitEnd::stopped;
}

} // namespace

FiveBaudPlan five_baud_plan(unsigned char byte) {
    FiveBaudPlan low{};
    low[0] = true;
    for (int bit = 0; bit < 8; ++bit) {
        low[static_cast<std::size_t>(bit) + 1] = ((byte >> bit) & 1) == 0;
    }
    low[SLOW_INIT_SLOTS - 1] = false;
    return low;
}

bool odd_parity(unsigned char byte) {
    return std::popcount(byte) % 2 == 1;
}

unsigned char with_odd_parity(int address) {
    const auto seven = static_cast<unsigned char>(address & 0x7F);
    return odd_parity(seven) ? seven : static_cast<unsigned char>(seven | 0x80);
}

// Each change is asked for so that its call returns at its slot counted from
// the first change's return: a break change reaches the line near the end of
// its USB transfer, and the previous change's call time is the best guess of
// the next one's.
FiveBaudSending send_five_baud(int descriptor, unsigned char byte, LineSpan resolution) {
    const FiveBaudPlan low = five_baud_plan(byte);
    FiveBaudSending sending;
    const StoppedSince stops;
    LineCall first{};
    LineSpan took{};
    bool line_low = false;
    for (int slot = 0; slot < SLOW_INIT_SLOTS; ++slot) {
        const bool want_low = low[static_cast<std::size_t>(slot)];
        if (want_low == line_low) {
            continue;
        }
        const LineSpan planned = slot * SLOW_INIT_BIT;
        if (slot > 0 && (!wait_until(first.returned + planned - took) || stops.stopped())) {
            sending.stopped = true;
            break;
        }
        const Clock::time_point called = Clock::now();
        if (!(want_low ? raise_break(descriptor) : clear_break(descriptor))) {
            sending.error = errno;
            break;
        }
        const LineCall change{called, Clock::now()};
        took = change.returned - change.called;
        line_low = want_low;
        if (slot == 0) {
            first = change;
        } else {
            sending.edges.push_back(span_between(first, change, planned));
        }
    }
    if (!clear_break(descriptor) && sending.error == 0) {
        sending.error = errno;
    }
    sending.sent = sending.error == 0 && !sending.stopped;
    const LineSpan frame = SLOW_INIT_SLOTS * SLOW_INIT_BIT;
    sending.end = {first.called + frame, first.returned + frame};
    StepTiming& bits = sending.bits;
    bits.name = BIT_EDGES.name;
    bits.window_from = BIT_EDGES.from;
    bits.window_to = BIT_EDGES.to;
    if (!sending.edges.empty()) {
        bits.at_least = sending.edges.front().earliest;
        bits.at_most = sending.edges.front().latest;
    }
    for (const EdgeRange& edge : sending.edges) {
        bits.at_least = std::min(bits.at_least, edge.earliest);
        bits.at_most = std::max(bits.at_most, edge.latest);
    }
    bits.judged = judge_span(bits.at_least, bits.at_most, BIT_EDGES, resolution);
    return sending;
}
