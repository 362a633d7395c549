// The K-line as one wire: every byte the tester writes comes back first as
// its echo, then the ECU's answer follows on the same line. Writing reads the
// echo back and compares it, so no echo is ever taken for an answer, however
// the driver splits or merges the reads. Bytes arrive marked (PARMRK), so a
// framing or parity error or a break is told from a byte sent. Every wait is
// bounded and ends on a stop request.
#pragma once

#include "base/deadline.h"
#include "check/ecu/step_timing.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

struct WireByte {
    unsigned char value = 0;
    // Read with a framing or parity error, or a break: not the byte sent.
    bool garbled = false;
    // Where its stop bit ended on the line.
    LineMoment end;
};

// What one write brought back.
struct WireSend {
    bool written = false;
    // Every byte came back as written.
    bool echoed = false;
    // What came back in the echo's place, raw.
    std::string echo;
    // Zero bytes or breaks came back: the line is held low.
    bool echo_low = false;
    // Where the first byte's start and the last byte's end lie.
    LineMoment start;
    LineMoment end;
    // Where the first byte that came back began, ours or another's.
    std::optional<LineMoment> first_back;
};

class KlineWire {
  public:
    using Clock = std::chrono::steady_clock;

    // A port whose line runs at rate with PARMRK set. uncertainty: how long a
    // byte can wait in the adapter before the program can read it (its
    // latency timer, its USB transfers); zero for a pseudo-terminal.
    KlineWire(int descriptor, int rate, LineSpan uncertainty);

    int descriptor() const { return descriptor_; }
    int rate() const { return rate_; }
    // The rate bytes take on the wire from now on, set on the line; false
    // when the driver refused it.
    [[nodiscard]] bool set_rate(int rate);
    LineSpan uncertainty() const { return uncertainty_; }
    // One byte's ten bits at the rate.
    LineSpan byte_time() const;

    // Writes the bytes and reads their echo, waiting for it no longer than
    // the bytes' wire time and the uncertainty allow, with room for a slow
    // machine. What comes after the echo is kept for next.
    WireSend send(const std::string& bytes);
    // The next byte from the line; none when the deadline passed, a stop was
    // asked for or the port went away first.
    std::optional<WireByte> next(Deadline deadline);
    // Reads and drops what the line brings until then; true when it brought
    // any byte.
    bool drop_until(Clock::time_point then);
    // When the line last brought a byte, or the wire was made.
    Clock::time_point last_heard() const { return last_heard_; }
    // While ending a session, a stop request no longer cuts the waits short.
    void set_ending(bool ending) { ending_ = ending; }
    // A wait was cut by a stop request, or the port went away.
    bool stopped() const { return stopped_; }
    bool gone() const { return gone_; }
    // No wait can go on: the port went away, or a stop came and the wire is
    // not ending a session.
    bool cut() const { return gone_ || (stopped_ && !ending_); }

  private:
    bool fill(Deadline deadline);
    void decode(const unsigned char* raw, std::size_t count, Clock::time_point after,
                Clock::time_point seen);

    int descriptor_;
    int rate_;
    LineSpan uncertainty_;
    std::deque<WireByte> pending_;
    // What the last read left of a PARMRK mark: 0 none, 1 after FF, 2 after FF 00.
    int mark_state_ = 0;
    // The last moment the line is known to have brought nothing more.
    Clock::time_point known_empty_;
    Clock::time_point last_heard_;
    bool ending_ = false;
    bool stopped_ = false;
    bool gone_ = false;
};

// The uncertainty of a port's arrival times: its latency timer and a USB
// transfer for an adapter, none for a pseudo-terminal.
LineSpan arrival_uncertainty(bool pseudo_terminal, std::optional<int> latency_timer_ms);

// Where a received byte's start lies, from where its end lies.
LineMoment byte_start(const WireByte& byte, LineSpan byte_time);
