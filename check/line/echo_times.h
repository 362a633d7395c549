// A summary of echo times that takes as many times as a test repeats in a
// few kilobytes: exact minimum and maximum, quantiles to three significant
// digits of a microsecond count.
#pragma once

#include <chrono>
#include <map>
#include <optional>

class EchoTimes {
  public:
    using Duration = std::chrono::steady_clock::duration;

    void add(Duration time);
    long long count() const { return count_; }
    std::optional<Duration> min() const;
    std::optional<Duration> max() const;
    // The time below which the fraction of times lies (0.5 the median), to
    // three significant digits; none when there are no times.
    std::optional<Duration> quantile(double fraction) const;

  private:
    // Microseconds rounded down to three significant digits, and how many
    // times fell there.
    std::map<long long, long long> buckets_;
    long long count_ = 0; // 64-bit, as a week's soak needs
    Duration min_{};
    Duration max_{};
};
