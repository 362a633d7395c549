#include "check/ecu/kline_wire.h"

#include "check/line/rate_check.h"
#include "check/port/interruption.h"
#include "serial/line_rate.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// Room for a loaded machine on top of every wait the line itself allows.
constexpr milliseconds SLACK{200};
// One bulk-in transfer in flight and the next frame's.
constexpr milliseconds USB_TRANSFER{2};
// How long one look at the line waits at most.
constexpr std::chrono::microseconds WAIT_SLICE{1000};
// A receiver has a byte after nine of its ten bits.
constexpr int TENTHS_BEFORE_ARRIVAL = 9;

} // namespace

LineSpan arrival_uncertainty(bool pseudo_terminal, std::optional<int> latency_timer_ms) {
    if (pseudo_terminal) {
        return LineSpan::zero();
    }
    return milliseconds(latency_timer_ms.value_or(0)) + USB_TRANSFER;
}

LineMoment byte_start(const WireByte& byte, LineSpan byte_time) {
    return {byte.end.earliest - byte_time,
            byte.end.latest - byte_time * TENTHS_BEFORE_ARRIVAL / 10};
}

KlineWire::KlineWire(int descriptor, int rate, LineSpan uncertainty)
    : descriptor_(descriptor), rate_(rate), uncertainty_(uncertainty), known_empty_(Clock::now()),
      last_heard_(known_empty_) {}

bool KlineWire::set_rate(int rate) {
    rate_ = rate;
    return set_line_rate(descriptor_, rate);
}

LineSpan KlineWire::byte_time() const {
    return wire_time(rate_, 1);
}

// With PARMRK, a byte read with an error comes as FF 00 byte (a break as
// FF 00 00) and a plain FF doubled; a mark may be split across reads.
void KlineWire::decode(const unsigned char* raw, std::size_t count, Clock::time_point after,
                       Clock::time_point seen) {
    std::vector<WireByte> bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char value = raw[i];
        if (mark_state_ == 2) {
            bytes.push_back({value, true, {}});
            mark_state_ = 0;
        } else if (mark_state_ == 1) {
            mark_state_ = value == 0 ? 2 : 0;
            if (value != 0) {
                bytes.push_back({0xFF, false, {}});
            }
        } else if (value == 0xFF) {
            mark_state_ = 1;
        } else {
            bytes.push_back({value, false, {}});
        }
    }
    // The bytes of one read left the line one after the other, the last no
    // later than the read; each no sooner than the line was last seen empty,
    // less what the adapter may have held back.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto behind = static_cast<long>(bytes.size() - 1 - i);
        bytes[i].end.latest = seen - byte_time() * behind;
        bytes[i].end.earliest = std::min(after - uncertainty_, bytes[i].end.latest);
        pending_.push_back(bytes[i]);
    }
    if (!bytes.empty()) {
        last_heard_ = seen;
    }
}

// The wait goes in short slices: a slice that ends with nothing to read
// proves the line brought nothing until it began, which bounds the next
// byte's arrival from below far closer than the start of the whole wait.
bool KlineWire::fill(Deadline deadline) {
    while (pending_.empty()) {
        if (cut()) {
            return false;
        }
        pollfd watch{descriptor_, POLLIN, 0};
        const Clock::time_point slice_start = Clock::now();
        const Deadline slice(std::min(deadline.at(), slice_start + WAIT_SLICE));
        const WaitEnd end =
            poll_until({&watch, 1}, slice, ending_ ? StopRequest{} : interruption_stop_request());
        if (end == WaitEnd::stopped) {
            stopped_ = true;
            return false;
        }
        if (end == WaitEnd::timed_out) {
            known_empty_ = std::max(known_empty_, slice_start);
            if (deadline.passed()) {
                return false;
            }
            continue;
        }
        if (end != WaitEnd::ready) {
            return false;
        }
        if ((watch.revents & POLLIN) == 0) {
            gone_ = true;
            return false;
        }
        unsigned char raw[256];
        const ssize_t got = retry_after_signal(read, descriptor_, raw, sizeof raw);
        const Clock::time_point seen = Clock::now();
        if (got < 0 && errno == EAGAIN) {
            continue;
        }
        if (got <= 0) {
            gone_ = true;
            return false;
        }
        decode(raw, static_cast<std::size_t>(got), known_empty_, seen);
    }
    return true;
}

std::optional<WireByte> KlineWire::next(Deadline deadline) {
    if (!fill(deadline)) {
        return std::nullopt;
    }
    WireByte byte = pending_.front();
    pending_.pop_front();
    return byte;
}

bool KlineWire::drop_until(Clock::time_point then) {
    bool any = false;
    while (next(Deadline(then))) {
        any = true;
    }
    return any;
}

WireSend KlineWire::send(const std::string& bytes) {
    WireSend sent;
    const Clock::time_point called = Clock::now();
    const ssize_t wrote = retry_after_signal(write, descriptor_, bytes.data(), bytes.size());
    const Clock::time_point returned = Clock::now();
    sent.written = wrote == static_cast<ssize_t>(bytes.size());
    const LineSpan wire = byte_time() * static_cast<long>(bytes.size());
    sent.start = {called, returned + wire + uncertainty_};
    sent.end = {called + wire, returned + wire + uncertainty_};
    if (!sent.written) {
        return sent;
    }
    const Deadline echo_by(returned + wire + uncertainty_ + SLACK);
    std::optional<WireByte> first;
    std::optional<WireByte> last;
    bool garbled = false;
    while (sent.echo.size() < bytes.size()) {
        const std::optional<WireByte> byte = next(echo_by);
        if (!byte) {
            break;
        }
        if (!first) {
            first = byte;
        }
        last = byte;
        sent.echo.push_back(static_cast<char>(byte->value));
        sent.echo_low |= byte->value == 0 && (byte->garbled || bytes[sent.echo.size() - 1] != 0);
        garbled |= byte->garbled;
    }
    sent.echoed = !garbled && sent.echo == bytes;
    if (first) {
        sent.first_back = byte_start(*first, byte_time());
    }
    // Bounds from another's bytes would say nothing of where ours went.
    if (sent.echoed && first) {
        sent.start.latest =
            std::max(called, first->end.latest - byte_time() * TENTHS_BEFORE_ARRIVAL / 10);
        sent.end.latest = std::max(sent.end.earliest, last->end.latest);
    }
    return sent;
}
