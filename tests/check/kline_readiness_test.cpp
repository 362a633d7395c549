// What the K-line summary says for a measurement: the policy on its own,
// with the bounds a real driver gives, which neither a pseudo-terminal nor
// the emulation produces (their calls return at once).
#include "check/kline_readiness.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::microseconds;

// A measured break whose line was low between the bounds, in microseconds.
KlineReadiness with_break(long long at_least, long long at_most, long long clear_took = 2000) {
    KlineReadiness readiness;
    BreakCheck& fast = readiness.measured.fast_break;
    fast.accepted = true;
    fast.low_at_least = microseconds(at_least);
    fast.low_at_most = microseconds(at_most);
    fast.clear_took = microseconds(clear_took);
    fast.received = std::string("\xff\0\0", 3);
    fast.line_went_low = true;
    SlowInitCheck& slow = readiness.measured.slow_init;
    slow.accepted = true;
    return readiness;
}

// A measured slow init whose edges strayed at most and at least so far.
KlineReadiness with_edges(long long worst_possible, long long least_certain) {
    KlineReadiness readiness = with_break(25000, 27000);
    readiness.measured.slow_init.worst_possible = microseconds(worst_possible);
    readiness.measured.slow_init.least_certain = microseconds(least_certain);
    return readiness;
}

TEST(KlineReadiness, AnswersOnlyWhatTheBoundsProve) {
    struct Row {
        const char* name;
        KlineReadiness readiness;
        int line; // 1 fast init by break, 3 slow init
        Readiness answer;
    };
    const Row rows[] = {
        {"low 25.0 to 30.0 ms", with_break(25000, 30000), 1, Readiness::yes},
        {"low 25.0 to 30.1 ms", with_break(25000, 30100), 1, Readiness::cannot_tell},
        {"low at least 30.1 ms", with_break(30100, 33000), 1, Readiness::no},
        {"a clear held back 150 ms", with_break(25000, 180000, 150000), 1, Readiness::no},
        {"edges within 5.0 ms", with_edges(5000, 0), 3, Readiness::yes},
        {"edges maybe 5.1 ms off", with_edges(5100, 0), 3, Readiness::cannot_tell},
        {"an edge surely 5.1 ms off", with_edges(9000, 5100), 3, Readiness::no},
        {"a simulated break fails slow init too", with_break(25000, 180000, 150000), 3,
         Readiness::no},
    };
    for (const Row& row : rows) {
        const std::vector<ReadinessLine> summary = readiness_summary(row.readiness);
        EXPECT_EQ(summary.at(row.line).answer, row.answer)
            << row.name << ": " << summary.at(row.line).reason;
    }
}

TEST(KlineReadiness, TheRateMayBeTwoPercentOffAndNoLowerThanTheChipRuns) {
    UsbIdentity ftdi;
    ftdi.vendor_id = "0403";
    EXPECT_TRUE(check_rate(10400, 10608, std::nullopt).within_tolerance);
    EXPECT_FALSE(check_rate(10400, 10609, std::nullopt).within_tolerance);
    EXPECT_TRUE(check_rate(10400, 10192, std::nullopt).within_tolerance);
    EXPECT_FALSE(check_rate(10400, 10191, std::nullopt).within_tolerance);
    // The FT232's lowest rate is 183 baud; its driver reads back any rate asked.
    EXPECT_EQ(rate_summary(check_rate(183, 183, ftdi), true).answer, Readiness::yes);
    EXPECT_EQ(rate_summary(check_rate(182, 182, ftdi), true).answer, Readiness::no);
}

} // namespace
