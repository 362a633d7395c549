// The echo times' summary keeps a few kilobytes however many times it takes:
// its quantiles must still be those of the times.
#include "check/line/echo_times.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(EchoTimes, QuantilesAreThoseOfTheSortedTimes) {
    EchoTimes times;
    for (int ms = 100; ms >= 1; --ms) {
        times.add(std::chrono::milliseconds(ms));
    }
    EXPECT_EQ(times.min(), 1ms);
    EXPECT_EQ(times.max(), 100ms);
    EXPECT_EQ(times.quantile(0.5), 51ms);
    EXPECT_EQ(times.quantile(0.99), 99ms);
    // Quantiles to three significant digits of a microsecond count; the
    // maximum exact.
    times.add(123456us);
    EXPECT_EQ(times.quantile(1.0), 123000us);
    EXPECT_EQ(times.max(), 123456us);
}

} // namespace
