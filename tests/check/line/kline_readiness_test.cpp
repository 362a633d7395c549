// What the K-line summary says for a measurement: the policy on its own,
// with the bounds a real driver gives, which neither a pseudo-terminal nor
// the emulation produces (their calls return at once).
#include "check/line/kline_readiness.h"
#include "check/port/port_identity.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::microseconds;

TEST(KlineReadiness, AnswersOnlyWhatTheBoundsProve) {
    struct Row {
        const char* name;
        int line; // 1 fast init by break, 3 slow init
        Readiness answer;
        // The break's low bounds and its clear's time; the slow-init edges'
        // farthest possible and certain strays; all in microseconds.
        long long at_least, at_most, clear_took = 2000, worst = 0, certain = 0;
    };
    const Row rows[] = {
        {"low 25.0 to 30.0 ms", 1, Readiness::yes, 25000, 30000},
        {"low 25.0 to 30.1 ms", 1, Readiness::cannot_tell, 25000, 30100},
        {"low at least 30.1 ms", 1, Readiness::no, 30100, 33000},
        {"a clear held back 150 ms", 1, Readiness::no, 25000, 180000, 150000},
        {"edges within 5.0 ms", 3, Readiness::yes, 25000, 27000, 2000, 5000},
        {"edges maybe 5.1 ms off", 3, Readiness::cannot_tell, 25000, 27000, 2000, 5100},
        {"an edge surely 5.1 ms off", 3, Readiness::no, 25000, 27000, 2000, 9000, 5100},
        {"a simulated break fails slow init too", 3, Readiness::no, 25000, 180000, 150000},
    };
    for (const Row& row : rows) {
        KlineReadiness readiness;
        BreakCheck& fast = readiness.measured.fast_break;
        fast.accepted = readiness.measured.slow_init.accepted = true;
        fast.low_at_least = microseconds(row.at_least);
        fast.low_at_most = microseconds(row.at_most);
        fast.clear_took = microseconds(row.clear_took);
        fast.line_went_low = true;
        readiness.measured.slow_init.worst_possible = microseconds(row.worst);
        readiness.measured.slow_init.least_certain = microseconds(row.certain);
        const ReadinessLine line = readiness_summary(readiness).at(row.line);
        EXPECT_EQ(line.answer, row.answer) << row.name << ": " << line.reason;
    }
}

// A node that lost its device is gone, not a pseudo-terminal.
TEST(KlineReadiness, AnUnpluggedAdapterIsNoPseudoTerminal) {
    EXPECT_EQ(port_kind(false, false, makedev(188, 0), true), PortKind::gone);
    EXPECT_EQ(port_kind(false, false, makedev(136, 3), true), PortKind::pseudo_terminal);
}

TEST(KlineReadiness, TheRateMayBeTwoPercentOffAndNoLowerThanTheChipRuns) {
    const ConverterChip ftdi = converter_chip("0403");
    const ConverterChip other = ConverterChip::unknown;
    EXPECT_TRUE(check_rate(10400, 10608, other).within_tolerance);
    EXPECT_FALSE(check_rate(10400, 10609, other).within_tolerance);
    EXPECT_TRUE(check_rate(10400, 10192, other).within_tolerance);
    EXPECT_FALSE(check_rate(10400, 10191, other).within_tolerance);
    // The FT232's lowest rate is 183 baud; its driver reads back any rate asked.
    EXPECT_EQ(rate_summary(check_rate(183, 183, ftdi), true).answer, Readiness::yes);
    EXPECT_EQ(rate_summary(check_rate(182, 182, ftdi), true).answer, Readiness::no);
}

} // namespace
