// The loopback test of one port, as lantoric-check runs it: the window's
// exchange at any baud rate, repeated, with the reasons a port cannot be
// tested and the exit status the outcome maps to. However many times a test
// repeats, what it keeps stays bounded: counts, a timing summary and the first
// failed runs.
#pragma once

#include "app/core/loopback_exchange.h"
#include "check/echo_times.h"
#include "check/kline_readiness.h"
#include "check/port_report.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Exit statuses: the outcome of a check for scripts.
inline constexpr int EXIT_SUCCESS_STATUS = 0;
inline constexpr int EXIT_NO_ECHO = 1; // timeout or wrong echo
inline constexpr int EXIT_NOT_TRANSMITTED = 2;
inline constexpr int EXIT_NOT_OPENED = 3; // not able to open, gone, or no port to test
// The echo came back, but the port cannot do what was asked (a rate it does
// not run, a K-line check that failed).
inline constexpr int EXIT_CANNOT_DO = 4;
inline constexpr int EXIT_USAGE = 64;     // as sysexits.h has it
inline constexpr int EXIT_OUTPUT_FAILED = 74; // EX_IOERR: the report could not be written

// At most this many runs are kept with their bytes: the first, and failed ones.
inline constexpr std::size_t KEPT_RUNS = 100;

// How one run of a test ended.
enum class RunOutcome { success, timeout, not_transmitted, port_gone, not_opened };

struct TestRun {
    int number = 0; // 1 for the first run
    RunOutcome outcome = RunOutcome::not_opened;
    LoopbackResult result;
    // Why the port did not open for this run (not_opened only).
    OpenReport open;
    // The rate the line ran at, as the driver read it back; none when the
    // read failed (the port went away between the open and the read).
    std::optional<int> line_rate;
};

struct AdapterTest {
    std::string path;
    int baud_rate = 9600;
    // The rate the line reported after it was first set; none when it was
    // never read.
    std::optional<int> line_rate;
    OpenReport open;
    PortHolders holders;
    // Another process had the port open and --force was not given: its line
    // was left alone and not tested.
    bool held_elsewhere = false;
    // Set when the port opened but the rate was refused: one line and its fix.
    std::string setup_failure;
    int run_count = 0;
    // Runs by outcome, indexed by RunOutcome.
    int outcomes[5] = {};
    // The first run and the first failed runs, up to KEPT_RUNS in all.
    std::vector<TestRun> kept;
    int failures_left_out = 0;
    // The reason of the first run that could not open the port.
    std::string first_open_failure;
    // Write to last echoed byte of the successful runs.
    EchoTimes times;
    // The rate asked against the one the line reported.
    RateCheck rate;
    // --kline: the readiness checks, run once after the echo tests.
    std::optional<KlineReadiness> kline;
    int exit_status = EXIT_NOT_OPENED;
};

// The status a run's outcome maps to: 0 success, 1 timeout, 2 not able to
// transmit, 3 not able to open or the port went away.
int exit_status_of(RunOutcome outcome);

// The outcome as a person reads it: "success", "timeout", "not able to
// transmit", "the port went away", "could not open".
const char* run_outcome_text(RunOutcome outcome);

// How long the 15 bytes of the text need on the wire at the rate, 8N1 (10 bits
// a byte).
std::chrono::steady_clock::duration wire_time(int baud_rate);

// The window's bounds, widened for a rate whose 15 bytes take long on the
// wire: twice the wire time of silence at least, and three times the wire
// time in all.
ExchangeBounds bounds_for_rate(int baud_rate);

// Where the received bytes first differ from the sent text: the index of the
// first wrong byte, or of the first missing one; none when they are equal.
std::optional<std::size_t> first_difference(const std::string& sent, const std::string& received);

// Whether the rate check says the port cannot run the rate asked.
bool rate_fails(const RateCheck& rate);

// Checks that the port opens (check_open) and who else has it open; a port
// another process has open is tested only when forced. Then runs the exchange
// count times, each with its own open at the rate and close, which puts the
// line back as it was, and checks the rate the line reported; with kline, the
// K-line readiness checks follow on one more open.
AdapterTest test_adapter(const std::string& path, int baud_rate, int count, bool force = false,
                         bool kline = false);
