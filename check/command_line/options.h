// lantoric-check's command line.
#pragma once

#include "app/core/loopback_exchange.h"
#include "check/ecu/ecu_check.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct CheckOptions {
    std::vector<std::string> ports;
    int baud_rate = TEST_BAUD_RATE;
    int count = 1;
    bool all = false;
    bool json = false;
    bool version = false;
    // Test a port even when another process has it open.
    bool force = false;
    // Also check what K-line diagnostics need (rate, break, 360 baud, slow
    // init, latency); the rate defaults to 10400 then.
    bool kline = false;
    // Test each adapter as it is plugged in, until interrupted.
    bool watch = false;
    // Repeat the test for this long, or until the first failure.
    std::optional<std::chrono::seconds> duration;
    bool until_fail = false;
    // Wake the car's ECU behind each port instead of the echo test: the
    // protocol and address asked (--ecu, --address).
    std::optional<EcuRequest> ecu;
    // Also write the facts to this file, for a seller or a forum.
    std::string report;
    // --help was given: the help text to print, and nothing else to do.
    std::string help;
};

// Highest accepted --count; a thousand tests take about a minute at 9600 baud.
inline constexpr int CHECK_COUNT_LIMIT = 1000000;
// The longest soak test: a week.
inline constexpr std::chrono::seconds CHECK_DURATION_LIMIT{7 * 24 * 3600};
// Rates outside this range are no serial line a K-line adapter could run.
inline constexpr int CHECK_RATE_MIN = 50;
inline constexpr int CHECK_RATE_MAX = 4000000;

// Parses the arguments (argv[0] is the program). On a usage error returns
// none and sets error to one line saying what was wrong and what to do.
// --help gives the help text in options.help, for the caller to print.
std::optional<CheckOptions> parse_check_options(int argc, char** argv, std::string& error);

// A time such as "30s", "10m", "2h" or "90" (seconds): none unless it is a
// whole number with one of those units, from 1 s to CHECK_DURATION_LIMIT.
std::optional<std::chrono::seconds> parse_duration(const std::string& text);
