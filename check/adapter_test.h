// The loopback test of one port, as lantoric-check runs it: the window's
// exchange at any baud rate, repeated, with the reasons a port cannot be
// tested and the exit status the outcome maps to.
#pragma once

#include "app/core/loopback_exchange.h"
#include "check/port_report.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Exit statuses: the outcome of a check for scripts.
inline constexpr int EXIT_SUCCESS_STATUS = 0;
inline constexpr int EXIT_NO_ECHO = 1; // timeout or wrong echo
inline constexpr int EXIT_NOT_TRANSMITTED = 2;
inline constexpr int EXIT_NOT_OPENED = 3; // not able to open, or no port to test
inline constexpr int EXIT_USAGE = 64;     // as sysexits.h has it

// The port number lantoric-check opens its port under: an explicit number,
// so the open returns the descriptor the baud rate is set on.
inline constexpr object_number CHECK_PORT = 1;

struct AdapterTest {
    std::string path;
    int baud_rate = 9600;
    // The rate the line reports after it was set; none when it was not set.
    std::optional<int> line_rate;
    OpenReport open;
    std::vector<PortHolder> holders;
    bool holders_all_visible = true;
    // Set when the port opened but the rate was refused: one line and its fix.
    std::string setup_failure;
    std::vector<LoopbackResult> runs;
    int exit_status = EXIT_NOT_OPENED;
};

struct TimingSummary {
    int successes = 0;
    // Write to last echoed byte over the successful runs.
    std::optional<std::chrono::steady_clock::duration> min, median, p99, max;
};

// The status a verdict maps to: 0 success, 1 timeout, 2 not able to transmit,
// 3 not able to open.
int exit_status_of(LoopbackVerdict verdict);

// How long the 15 bytes of the text need on the wire at the rate, 8N1 (10 bits
// a byte).
std::chrono::steady_clock::duration wire_time(int baud_rate);

// Where the received bytes first differ from the sent text: the index of the
// first wrong byte, or of the first missing one; none when they are equal.
std::optional<std::size_t> first_difference(const std::string& sent, const std::string& received);

// Checks that the port opens (check_open), finds who else holds it, then runs
// the exchange count times, each with its own open at the rate and close.
AdapterTest test_adapter(const std::string& path, int baud_rate, int count);

TimingSummary summarise(const std::vector<LoopbackResult>& runs);
