#include "check/line/echo_times.h"

#include <algorithm>
#include <cmath>

namespace {

long long three_digits(long long microseconds) {
    long long scale = 1;
    while (microseconds / scale >= 1000) {
        scale *= 10;
    }
    return microseconds / scale * scale;
}

} // namespace

void EchoTimes::add(Duration time) {
    const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(time).count();
    ++buckets_[three_digits(std::max<long long>(microseconds, 0))];
    if (count_ == 0 || time < min_) {
        min_ = time;
    }
    if (count_ == 0 || time > max_) {
        max_ = time;
    }
    ++count_;
}

std::optional<EchoTimes::Duration> EchoTimes::min() const {
    return count_ > 0 ? std::optional(min_) : std::nullopt;
}

std::optional<EchoTimes::Duration> EchoTimes::max() const {
    return count_ > 0 ? std::optional(max_) : std::nullopt;
}

std::optional<EchoTimes::Duration> EchoTimes::quantile(double fraction) const {
    if (count_ == 0) {
        return std::nullopt;
    }
    // The same rank the sorted list of every time would give.
    const auto rank = static_cast<long long>(std::llround(fraction * (count_ - 1)));
    long long seen = 0;
    for (const auto& [microseconds, times] : buckets_) {
        seen += times;
        if (seen > rank) {
            const Duration value = std::chrono::microseconds(microseconds);
            return std::clamp(value, min_, max_);
        }
    }
    return max_;
}
