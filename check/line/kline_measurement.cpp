#include "check/line/kline_measurement.h"

#include "base/deadline.h"
#include "check/port/interruption.h"
#include "check/port/port_identity.h"
#include "check/line/rate_check.h"
#include "serial/line_break.h"
#include "serial/line_rate.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// After the line changes, what comes back is read this long.
constexpr milliseconds LISTEN{200};
// Before anything is sent the line is listened to this long: longer than one
// byte at 360 baud, so a bus that is talked on or held low shows.
constexpr milliseconds LISTEN_BEFORE_SENDING{50};
// How long the 360-baud byte may take to leave the adapter before its
// output is thrown away.
constexpr milliseconds DRAIN_LIMIT{500};
// A byte is complete at the receiver after its start and eight data bits:
// nine of its ten bits on the wire.
constexpr int TENTHS_BEFORE_ARRIVAL = 9;

// Input from before a check is no part of it. It is dropped when it is this
// program's to drop; otherwise another program may be reading the port, and
// only what waits now is read aside, as the echo test does.
void set_aside_input(int descriptor, bool input_ours) {
    if (input_ours) {
        tcflush(descriptor, TCIFLUSH);
        return;
    }
    int waiting = 0;
    if (ioctl(descriptor, FIONREAD, &waiting) != 0) {
        return;
    }
    char aside[256];
    while (waiting > 0) {
        const ssize_t got =
            read(descriptor, aside, std::min(sizeof aside, static_cast<std::size_t>(waiting)));
        if (got <= 0) {
            break;
        }
        waiting -= static_cast<int>(got);
    }
}

// The errors of a port that was unplugged or hung up under the call.
bool port_went_away(int error) {
    return error == EIO || error == ENODEV || error == ENXIO || error == EBADF;
}

constexpr const char* GONE = "the port went away during the check";

template <typename Check> void went_away_during(Check& check) {
    check.not_measured = GONE;
    check.port_went_away = true;
}

// The driver's break counter; none where the driver keeps none.
std::optional<int> break_count(int descriptor) {
    serial_icounter_struct counters{};
    if (ioctl(descriptor, TIOCGICOUNT, &counters) != 0) {
        return std::nullopt;
    }
    return counters.brk;
}

// What the line brings within the span, at most limit bytes. A signal that
// cuts the wait short does not end it.
std::string bytes_within(int descriptor, LineSpan span, std::size_t limit = 64) {
    std::string received;
    const Deadline until = Deadline::after(span);
    pollfd watch{descriptor, POLLIN, 0};
    while (received.size() < limit && !until.passed() &&
           poll_until({&watch, 1}, until) == WaitEnd::ready && (watch.revents & POLLIN) != 0) {
        char bytes[64];
        const ssize_t got = retry_after_signal(read, descriptor, bytes,
                                               std::min(sizeof bytes, limit - received.size()));
        if (got < 0 && errno == EAGAIN) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        received.append(bytes, static_cast<std::size_t>(got));
    }
    return received;
}

// A zero byte or a marked break (FF 00 00 holds one) means the line was low.
bool shows_line_low(const std::string& received) {
    return received.find('\0') != std::string::npos;
}

// Waits until the output queue is empty, at most until the deadline; what is
// still queued then is thrown away, so a stuck adapter cannot hold the check.
void drain_until(int descriptor, Clock::time_point deadline) {
    int queued = 0;
    while (ioctl(descriptor, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(2));
    }
    tcflush(descriptor, TCOFLUSH);
}

// Why a check may not start: a stop was asked for, or the port was lost to
// another program while this one was stopped.
std::string reason_not_to_start() {
    if (!interruption_port_kept()) {
        return "another program took the port while lantoric-check was stopped";
    }
    if (interruption_requested()) {
        return "a stop was asked for before this check ran";
    }
    return {};
}

constexpr const char* STOPPED =
    "lantoric-check was stopped during the check, and the line was given back meanwhile";

BreakCheck check_break(int descriptor) {
    BreakCheck check;
    const std::optional<int> breaks_before = break_count(descriptor);
    LineCall raise{Clock::now(), {}};
    if (!raise_break(descriptor)) {
        check.error = errno;
        // A precaution after a refused raise; the close clears the break
        // again and says when it cannot.
        (void)clear_break(descriptor);
    } else {
        raise.returned = Clock::now();
        std::this_thread::sleep_until(raise.returned + FAST_INIT_LOW);
        LineCall clear{Clock::now(), {}};
        if (!clear_break(descriptor)) {
            check.error = errno;
        }
        clear.returned = Clock::now();
        const EdgeRange low = span_between(raise, clear);
        check.low_at_least = low.earliest;
        check.low_at_most = low.latest;
        check.clear_took = clear.returned - clear.called;
    }
    if (port_went_away(check.error)) {
        went_away_during(check);
        return check;
    }
    check.accepted = check.error == 0;
    check.received = bytes_within(descriptor, LISTEN);
    if (const std::optional<int> breaks_after = break_count(descriptor);
        breaks_before && breaks_after) {
        check.counted_breaks = *breaks_after - *breaks_before;
    }
    check.line_went_low = shows_line_low(check.received) || check.counted_breaks.value_or(0) > 0;
    return check;
}

ZeroByteCheck check_zero_byte(int descriptor, int asked_rate, std::optional<int> latency_ms,
                              bool input_ours) {
    ZeroByteCheck check;
    check.expected = wire_time(FALLBACK_INIT_RATE, 1);
    check.earliest_echo = check.expected * TENTHS_BEFORE_ARRIVAL / 10;
    const bool set = set_line_rate(descriptor, FALLBACK_INIT_RATE);
    if (!set && port_went_away(errno)) {
        went_away_during(check);
        return check;
    }
    check.rate = check_rate(FALLBACK_INIT_RATE, set ? line_rate(descriptor) : std::nullopt,
                            ConverterChip::unknown);
    if (set) {
        set_aside_input(descriptor, input_ours);
        const char zero = 0;
        const Clock::time_point written = Clock::now();
        const ssize_t sent = write(descriptor, &zero, 1);
        check.written = sent == 1;
        if (sent < 0 && port_went_away(errno)) {
            went_away_during(check);
        }
        if (check.written) {
            const LineSpan wait = check.expected + milliseconds(latency_ms.value_or(0)) + LISTEN;
            pollfd watch{descriptor, POLLIN, 0};
            if (poll_until({&watch, 1}, Deadline(written + wait)) == WaitEnd::ready) {
                if ((watch.revents & POLLIN) != 0) {
                    check.echo_time = Clock::now() - written;
                    char byte = 0;
                    if (retry_after_signal(read, descriptor, &byte, 1) == 1) {
                        check.received.push_back(byte);
                    }
                } else {
                    went_away_during(check);
                }
            }
            check.sooner_than_the_wire = check.echo_time && *check.echo_time < check.earliest_echo;
            drain_until(descriptor, written + check.expected + DRAIN_LIMIT);
        }
        // Whatever else the slow byte brought is no concern of the next check.
        set_aside_input(descriptor, input_ours);
    }
    // The slow init's edges are breaks, at any rate; the close puts the saved
    // line back and says when it cannot.
    (void)set_line_rate(descriptor, asked_rate);
    return check;
}

// Ten 200 ms slots: a start slot low, eight data slots alternating from
// high, and the stop slot kept low. An ECU on the line only answers an
// address whose stop bit is high, so no ECU can take this frame for its own.
// Each edge is asked for at its slot's time counted from the first edge's
// call; where the line changed is known only to lie within each call.
SlowInitCheck check_slow_init(int descriptor) {
    constexpr bool low[SLOW_INIT_SLOTS] = {true,  false, true,  false, true,
                                           false, true,  false, true,  true};
    SlowInitCheck check;
    check.accepted = true;
    const StoppedSince stops;
    LineCall first{};
    bool line_low = false;
    for (int slot = 0; slot <= SLOW_INIT_SLOTS; ++slot) {
        const bool want_low = slot < SLOW_INIT_SLOTS && low[slot];
        if (want_low == line_low) {
            continue;
        }
        const LineSpan planned = slot * SLOW_INIT_BIT;
        if (slot > 0) {
            std::this_thread::sleep_until(first.called + planned);
        }
        if (stops.stopped()) {
            check.not_measured = STOPPED;
            break;
        }
        const Clock::time_point called = Clock::now();
        if (!(want_low ? raise_break(descriptor) : clear_break(descriptor))) {
            check.accepted = false;
            check.error = errno;
            break;
        }
        const LineCall change{called, Clock::now()};
        line_low = want_low;
        if (slot == 0) {
            first = change;
            continue;
        }
        const EdgeRange edge = span_between(first, change, planned);
        check.edges.push_back(edge);
        check.worst_possible = std::max(
            {check.worst_possible, std::chrono::abs(edge.earliest), std::chrono::abs(edge.latest)});
        const LineSpan certain = edge.earliest > LineSpan::zero() ? edge.earliest
                                 : edge.latest < LineSpan::zero() ? -edge.latest
                                                                  : LineSpan::zero();
        check.least_certain = std::max(check.least_certain, certain);
    }
    if (!clear_break(descriptor) && check.error == 0) {
        check.accepted = false;
        check.error = errno;
    }
    if (port_went_away(check.error)) {
        check.accepted = false;
        went_away_during(check);
    }
    return check;
}

// Lets breaks show, sets waiting input aside and listens before anything is
// sent: whether the line is held low before the checks begin.
void listen_before_sending(int descriptor, bool input_ours, KlineMeasurement& measured) {
    // Breaks then read as FF 00 00 where the driver reports line status; the
    // CP210x driver reports them at all only with INPCK, which on a line
    // without parity changes nothing else.
    // Refused, breaks show as the line's own flags let them: a break not seen
    // is told as not come back.
    (void)change_input_flags(descriptor, PARMRK | INPCK, IGNBRK | BRKINT | IGNPAR | ISTRIP);
    set_aside_input(descriptor, input_ours);
    const std::optional<int> breaks_before = break_count(descriptor);
    measured.before_sending = bytes_within(descriptor, LISTEN_BEFORE_SENDING, 16);
    const std::optional<int> breaks_after = break_count(descriptor);
    measured.line_held_low = shows_line_low(measured.before_sending) ||
                             (breaks_before && breaks_after && *breaks_after > *breaks_before);
}

} // namespace

EdgeRange span_between(const LineCall& first, const LineCall& second, LineSpan planned) {
    return {second.called - first.returned - planned, second.returned - first.called - planned};
}

bool break_simulated(const BreakCheck& check) {
    return check.accepted && check.clear_took >= SIMULATED_BREAK_WAIT;
}

KlineMeasurement measure_kline(const OpenPort& port, int asked_rate,
                               std::optional<int> latency_timer_ms, bool input_ours) {
    const int descriptor = port.descriptor();
    KlineMeasurement measured;
    measured.pseudo_terminal = port_kind_now(descriptor) == PortKind::pseudo_terminal;
    // Whether the port went away by now; once it has, it stays away.
    const auto went_away = [&] {
        measured.port_gone = measured.port_gone || port_kind_now(descriptor) == PortKind::gone;
        return measured.port_gone;
    };
    // Runs one check unless it may not start, and notes a stop during it.
    const auto run = [&](auto& check, auto measure) {
        if (went_away()) {
            went_away_during(check);
            return;
        }
        if (std::string reason = reason_not_to_start(); !reason.empty()) {
            check.not_measured = std::move(reason);
            measured.interrupted = true;
            return;
        }
        const StoppedSince stops;
        check = measure();
        if (stops.stopped()) {
            check.not_measured = STOPPED;
            measured.interrupted = true;
        }
        measured.port_gone |= check.port_went_away;
    };
    const std::optional<SavedLine> line = save_line(descriptor);
    listen_before_sending(descriptor, input_ours, measured);
    run(measured.fast_break, [&] { return check_break(descriptor); });
    if (line) {
        // Marked breaks change nothing the later checks read; the close puts
        // the saved line back and says when it cannot.
        (void)restore_line(descriptor, *line);
    }
    run(measured.zero_byte,
        [&] { return check_zero_byte(descriptor, asked_rate, latency_timer_ms, input_ours); });
    run(measured.slow_init, [&] { return check_slow_init(descriptor); });
    // Gone after the last check: what was measured may have been the unplugging.
    if (went_away()) {
        for (std::string* why :
             {&measured.fast_break.not_measured, &measured.zero_byte.not_measured,
              &measured.slow_init.not_measured}) {
            if (why->empty()) {
                *why = GONE;
            }
        }
    }
    return measured;
}
