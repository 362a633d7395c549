#include "base/deadline.h"

#include <algorithm>
#include <array>
#include <ctime>

Deadline::Clock::duration Deadline::left() const {
    if (is_never()) {
        return Clock::duration::max();
    }
    return std::max(Clock::duration::zero(), at_ - Clock::now());
}

WaitEnd poll_until(std::span<pollfd> watched, Deadline deadline, StopRequest stop) {
    if (watched.size() > POLL_UNTIL_MOST) {
        errno = EINVAL;
        return WaitEnd::failed;
    }
    for (pollfd& each : watched) {
        each.revents = 0;
    }
    std::array<pollfd, POLL_UNTIL_MOST + 1> polled{};
    // Without a stop descriptor the watched ones are polled alone.
    const std::size_t count = watched.size() + (stop.descriptor >= 0 ? 1 : 0);
    for (;;) {
        if (stop.made != nullptr && stop.made()) {
            return WaitEnd::stopped;
        }
        std::copy(watched.begin(), watched.end(), polled.begin());
        polled[watched.size()] = {stop.descriptor, POLLIN, 0};
        // ppoll takes the time left to the nanosecond: a wait rounded to
        // milliseconds would wake early or late by up to one.
        timespec span{};
        if (!deadline.is_never()) {
            const auto left = deadline.left();
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            span = {static_cast<time_t>(seconds.count()),
                    static_cast<long>((left - seconds) / std::chrono::nanoseconds(1))};
        }
        const int ready =
            ppoll(polled.data(), count, deadline.is_never() ? nullptr : &span, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return WaitEnd::failed;
        }
        bool any = false;
        for (std::size_t at = 0; at < watched.size(); ++at) {
            watched[at].revents = polled[at].revents;
            any = any || polled[at].revents != 0;
        }
        if (any) {
            return WaitEnd::ready;
        }
        if (count > watched.size() && polled[watched.size()].revents != 0) {
            return WaitEnd::stopped;
        }
        if (deadline.passed()) {
            return WaitEnd::timed_out;
        }
    }
}
