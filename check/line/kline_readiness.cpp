#include "check/line/kline_readiness.h"

#include "check/common/time_text.h"

#include <cstring>

namespace {

constexpr const char* HELD_LOW =
    "the line is held low: a short to ground, or another device holds the bus";
constexpr const char* CHECK_THE_BUS =
    "check +12 V and ground (an unpowered adapter can read its line as low), look for a short "
    "to ground on the K-line, take other testers off the bus, then test again";

// The answer of a check that did not run or was cut short; none when it ran.
std::optional<ReadinessLine> not_measured(const KlineReadiness& readiness,
                                          const std::string& check_not_measured) {
    const std::string& why =
        !readiness.not_measured.empty() ? readiness.not_measured : check_not_measured;
    if (why.empty()) {
        return std::nullopt;
    }
    ReadinessLine line;
    line.reason = "not measured: " + why;
    line.fix = "test again";
    return line;
}

void refused_break(ReadinessLine& line, int error, const std::string& init, std::string fix) {
    line.answer = Readiness::no;
    line.reason = std::string("the driver refused the break (") + std::strerror(error) +
                  "): " + init + " will fail";
    line.fix = std::move(fix);
}

void simulated_break(ReadinessLine& line, const BreakCheck& check, const std::string& init,
                     std::string fix) {
    line.answer = Readiness::no;
    line.reason = "the driver held the break's clear back " +
                  milliseconds_number(check.clear_took) +
                  " ms: it simulates the break with a slow zero byte (the CH341 driver does on "
                  "chips without a break), which holds the line low about 200 ms: " +
                  init + " will fail";
    line.fix = std::move(fix);
}

void held_low(ReadinessLine& line) {
    line.answer = Readiness::no;
    line.reason = HELD_LOW;
    line.fix = CHECK_THE_BUS;
}

void on_pseudo_terminal(ReadinessLine& line, const std::string& reason) {
    line.reason = reason;
    line.fix = "test the adapter itself";
}

// The answers both break checks share: a refused break, a pseudo-terminal
// (which has no line to be held low either), a bus held low, a simulated
// break. False when none of them decides.
bool shared_break_answer(ReadinessLine& line, const KlineMeasurement& measured, bool accepted,
                         int error, const std::string& init, const std::string& fix) {
    if (!accepted) {
        refused_break(line, error, init, fix);
    } else if (measured.pseudo_terminal) {
        on_pseudo_terminal(line, "a pseudo-terminal carries no break");
    } else if (measured.line_held_low) {
        held_low(line);
    } else if (break_simulated(measured.fast_break)) {
        simulated_break(line, measured.fast_break, init, fix);
    } else {
        return false;
    }
    return true;
}

ReadinessLine break_line(const KlineReadiness& readiness) {
    const KlineMeasurement& measured = readiness.measured;
    const BreakCheck& check = measured.fast_break;
    ReadinessLine line;
    const std::string low = "the line was low " + milliseconds_number(check.low_at_least) + " to " +
                            milliseconds_number(check.low_at_most) + " ms";
    const std::string longest = std::to_string(FAST_INIT_LONGEST.count()) + " ms";
    const std::string use_fallback =
        "use a tool that falls back to fast init by 360 baud, or an adapter whose driver sends "
        "breaks (FTDI chips are known to)";
    if (shared_break_answer(line, measured, check.accepted, check.error, "fast init by break",
                            use_fallback)) {
        return line;
    }
    if (check.low_at_least > FAST_INIT_LONGEST) {
        line.answer = Readiness::no;
        line.reason =
            low + ", longer than the " + longest + " allowed: fast init by break will fail";
        line.fix = use_fallback;
    } else if (!check.line_went_low) {
        line.answer = Readiness::no;
        line.reason = low + " as asked, but nothing came back to show the line going low";
        line.fix = "check +12 V, ground and the 3-pole cable; " + use_fallback;
    } else if (check.low_at_most <= FAST_INIT_LONGEST) {
        line.answer = Readiness::yes;
        line.reason = low + ", within the 25 to " + longest + " allowed, and the break came back";
    } else {
        line.reason =
            low + ": the driver's calls took too long to tell whether it stayed within " + longest;
        line.fix = "test again; if it stays so, " + use_fallback;
    }
    return line;
}

ReadinessLine zero_byte_line(const KlineReadiness& readiness) {
    const ZeroByteCheck& check = readiness.measured.zero_byte;
    ReadinessLine line;
    const std::string use_break = "use fast init by break, or an adapter that runs 360 baud";
    if (!check.rate.read_back) {
        line.answer = Readiness::no;
        line.reason = "the driver does not accept 360 baud";
        line.fix = use_break;
    } else if (!check.rate.within_tolerance) {
        line.answer = Readiness::no;
        line.reason = "asked for 360 baud, the line runs at " +
                      std::to_string(*check.rate.read_back) + " baud";
        line.fix = use_break;
    } else if (readiness.measured.pseudo_terminal &&
               (readiness.measured.line_held_low || check.sooner_than_the_wire)) {
        on_pseudo_terminal(line, "a pseudo-terminal has no wire: its bytes take no time on it");
    } else if (readiness.measured.line_held_low) {
        held_low(line);
    } else if (check.sooner_than_the_wire) {
        // The line was quiet before: this byte was the echo, at a faster rate.
        line.answer = Readiness::no;
        line.reason = "the line does not run at 360 baud: a zero byte came back after " +
                      milliseconds_number(*check.echo_time) +
                      " ms, sooner than its nine bits take (" +
                      milliseconds_number(check.earliest_echo) + " ms)";
        line.fix = use_break;
    } else if (!check.written) {
        line.answer = Readiness::no;
        line.reason = "the zero byte could not be written at 360 baud";
        line.fix = use_break;
    } else if (!check.echo_time || check.received != std::string(1, '\0')) {
        line.answer = Readiness::no;
        line.reason = "the zero byte sent at 360 baud did not come back as a zero byte";
        line.fix = "check +12 V, ground and the 3-pole cable; " + use_break;
    } else {
        line.answer = Readiness::yes;
        line.reason = "the line runs at 360 baud and the zero byte came back after " +
                      milliseconds_number(*check.echo_time) + " ms (the wire needs " +
                      milliseconds_number(check.expected) + " ms)";
    }
    return line;
}

ReadinessLine slow_init_line(const KlineReadiness& readiness) {
    const KlineMeasurement& measured = readiness.measured;
    const SlowInitCheck& check = measured.slow_init;
    ReadinessLine line;
    const std::string stray = std::to_string(SLOW_INIT_STRAY.count()) + " ms";
    const std::string other_adapter =
        "use an adapter whose driver switches the break at once (FTDI chips are known to)";
    if (shared_break_answer(line, measured, check.accepted, check.error, "slow init",
                            other_adapter)) {
        return line;
    }
    if (check.least_certain > SLOW_INIT_STRAY) {
        line.answer = Readiness::no;
        line.reason = "bit edges strayed at least " + milliseconds_number(check.least_certain) +
                      " ms from their 200 ms slots, more than the " + stray +
                      " allowed: slow init will fail";
        line.fix = other_adapter;
    } else if (check.worst_possible <= SLOW_INIT_STRAY) {
        line.answer = Readiness::yes;
        line.reason = "bit edges fell up to " + milliseconds_number(check.worst_possible) +
                      " ms from their 200 ms slots, counted from the first edge";
    } else {
        line.reason = "bit edges fell up to " + milliseconds_number(check.worst_possible) +
                      " ms from their 200 ms slots: the driver's calls took too long to tell "
                      "whether they stayed within " +
                      stray;
        line.fix = "test again; if it stays so, " + other_adapter;
    }
    return line;
}

} // namespace

std::optional<ReadinessLine> rate_problem(const RateCheck& rate) {
    const std::string asked = std::to_string(rate.asked);
    ReadinessLine line;
    line.item = asked + " baud";
    const std::string other_adapter =
        "this driver cannot run " + asked +
        " baud: use an adapter whose chip and driver can (FTDI chips are known to)";
    const RateFinding finding = rate_finding(rate);
    if (finding == RateFinding::below_chip_lowest) {
        line.answer = Readiness::no;
        line.reason = "the " + rate.chip + " chip runs no slower than " +
                      std::to_string(*rate.chip_lowest_rate) + " baud: its driver's read-back of " +
                      asked + " cannot be trusted";
        line.fix = "choose a rate of " + std::to_string(*rate.chip_lowest_rate) + " baud or more";
    } else if (finding == RateFinding::not_read_back) {
        line.reason = "the driver does not say which rate the line runs at";
        line.fix = "try the adapter with a K-line tool";
    } else if (finding == RateFinding::off_rate) {
        line.answer = Readiness::no;
        line.reason = "the line runs at " + std::to_string(*rate.read_back) + " baud, not the " +
                      asked + " asked: the echo comes back, but an ECU will not understand it";
        line.fix = other_adapter;
    } else {
        return std::nullopt;
    }
    return line;
}

ReadinessLine rate_summary(const RateCheck& rate, bool echo_succeeded) {
    if (std::optional<ReadinessLine> problem = rate_problem(rate)) {
        return *problem;
    }
    ReadinessLine line;
    line.item = std::to_string(rate.asked) + " baud";
    if (!echo_succeeded) {
        line.answer = Readiness::no;
        line.reason = "the line runs at " + std::to_string(*rate.read_back) +
                      " baud, but the echo did not come back";
        line.fix = "check +12 V, ground and the 3-pole cable, then test again";
    } else {
        line.answer = Readiness::yes;
        line.reason =
            "the line runs at " + std::to_string(*rate.read_back) + " baud and the echo came back";
    }
    return line;
}

std::vector<ReadinessLine> readiness_summary(const KlineReadiness& readiness) {
    const KlineMeasurement& measured = readiness.measured;
    // Each check's line from its measurement, or why it has none.
    const auto answer = [&](const char* item, const std::string& check_not_measured,
                            ReadinessLine (*from_measurement)(const KlineReadiness&)) {
        std::optional<ReadinessLine> unmeasured = not_measured(readiness, check_not_measured);
        ReadinessLine line = unmeasured ? *unmeasured : from_measurement(readiness);
        line.item = item;
        return line;
    };
    return {rate_summary(readiness.rate, readiness.echo_succeeded),
            answer("fast init by break", measured.fast_break.not_measured, break_line),
            answer("fast init by 360 baud", measured.zero_byte.not_measured, zero_byte_line),
            answer("slow init (5 baud)", measured.slow_init.not_measured, slow_init_line)};
}

bool readiness_fails(const KlineReadiness& readiness) {
    for (const ReadinessLine& line : readiness.summary) {
        if (line.answer == Readiness::no) {
            return true;
        }
    }
    return false;
}

const ReadinessLine* first_unproven(const KlineReadiness& readiness) {
    for (const ReadinessLine& line : readiness.summary) {
        if (line.answer == Readiness::cannot_tell) {
            return &line;
        }
    }
    return nullptr;
}

const char* readiness_word(Readiness answer) {
    switch (answer) {
    case Readiness::yes:
        return "yes";
    case Readiness::no:
        return "no";
    case Readiness::cannot_tell:
        break;
    }
    return "cannot tell";
}
