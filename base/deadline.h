// Waits bounded by a time: a deadline, one wait in poll that a signal does
// not cut short and a stop request may end early, and the retry of any other
// system call a signal interrupted. Every loop that waits on descriptors
// waits through poll_until, so the time left, the retry after a signal and
// the stop are decided here once.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <poll.h>
#include <span>

// A point on the monotonic clock by which a wait ends, or never.
class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    constexpr explicit Deadline(Clock::time_point at) : at_(at) {}
    static Deadline after(Clock::duration span) { return Deadline(Clock::now() + span); }
    static constexpr Deadline never() { return Deadline(Clock::time_point::max()); }

    Clock::time_point at() const { return at_; }
    bool is_never() const { return at_ == Clock::time_point::max(); }
    bool passed() const { return !is_never() && Clock::now() >= at_; }
    // The time left; zero once passed, Clock::duration::max() for never.
    Clock::duration left() const;

  private:
    Clock::time_point at_;
};

// A request to stop waiting: a descriptor that turns readable when it is made
// (-1: none), and a function that tells whether it was made (none: never
// asked), looked at before the wait and after every signal that cut it.
struct StopRequest {
    int descriptor = -1;
    bool (*made)() = nullptr;
};

// How a wait ended.
enum class WaitEnd {
    // One of the watched descriptors has events (its revents say which).
    ready,
    // The deadline passed first.
    timed_out,
    // A stop was asked for first.
    stopped,
    // poll failed (errno says why); the wait is over.
    failed,
};

// The most descriptors one poll_until watches, beside the stop's.
inline constexpr std::size_t POLL_UNTIL_MOST = 4;

// Waits until one of the watched descriptors has any of its events, the
// deadline passes or the stop is asked for, whichever is first; polls at
// least once, so what is ready when the deadline has passed already is
// still seen. A signal that interrupts the wait continues it for the time
// left. Each watched revents is set as poll set it (0 when the wait did not
// poll); a descriptor of -1 is passed over. More than POLL_UNTIL_MOST
// descriptors fail with EINVAL. Any thread; no lock.
WaitEnd poll_until(std::span<pollfd> watched, Deadline deadline, StopRequest stop = {});

// Calls fn(args...) again as long as it fails with -1 and errno EINTR: a
// signal that interrupts a system call does not end what it was doing.
// Returns fn's last result, errno as fn left it.
template <typename Fn, typename... Args> auto retry_after_signal(Fn&& fn, Args&&... args) {
    for (;;) {
        const auto result = fn(args...);
        if (!(result == -1 && errno == EINTR)) {
            return result;
        }
    }
}
