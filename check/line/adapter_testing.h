// The loopback test of one port, as lantoric-check runs it: the window's
// exchange at any baud rate, repeated, with the reasons a port cannot be
// tested and the exit status the outcome maps to. However many times a test
// repeats, what it keeps stays bounded: counts, a timing summary and the first
// failed runs.
#pragma once

#include "app/core/loopback_exchange.h"
#include "check/line/echo_times.h"
#include "check/common/exit_status.h"
#include "check/line/kline_readiness.h"
#include "check/port/open_diagnosis.h"
#include "check/port/port_identity.h"
#include "check/line/rate_check.h"
#include "check/line/soak_facts.h"
#include "check/common/verdict.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// At most this many runs are kept with their bytes: the first, and failed ones.
inline constexpr std::size_t KEPT_RUNS = 100;

struct TestRun {
    long long number = 0; // 1 for the first run
    // How the run ended: success, timeout, not_transmitted, port_gone or
    // not_opened.
    Verdict outcome = Verdict::not_opened;
    LoopbackResult result;
    // Why the port did not open for this run (not_opened only).
    OpenReport open;
    // The rate the line ran at, as the driver read it back; none when the
    // read failed (the port went away between the open and the read).
    std::optional<int> line_rate;
};

struct AdapterTest {
    std::string path;
    int baud_rate = TEST_BAUD_RATE;
    // What the port's node is, found once as the test begins (prepare_test).
    PortIdentity identity;
    // The rate the line reported after it was first set; none when it was
    // never read.
    std::optional<int> line_rate;
    OpenReport open;
    PortHolders holders;
    // Another process had the port open and --force was not given: its line
    // was left alone and not tested.
    bool held_elsewhere = false;
    // 64-bit: a week's soak of a fast port runs billions of tests.
    long long run_count = 0;
    VerdictCounts outcomes;
    // The first run and the first failed runs, up to KEPT_RUNS in all.
    std::vector<TestRun> kept;
    long long failures_left_out = 0;
    // Why the first run that could not open the port did not; a refused
    // rate ends the test there.
    std::optional<OpenReport> first_open_failure;
    // Write to last echoed byte of the successful runs.
    EchoTimes times;
    // The rate asked against the one the line reported.
    RateCheck rate;
    // --kline: the readiness checks, run once after the echo tests.
    std::optional<KlineReadiness> kline;
    // --duration, --until-fail: the soak test's own facts.
    std::optional<SoakFacts> soak;
    int exit_status = EXIT_NOT_OPENED;

    bool rate_refused() const {
        return first_open_failure && first_open_failure->failure == OpeningFailure::refused_rate;
    }
    // Why the port was not tested: it did not open, or refused the rate; none
    // when it was tested or left alone.
    const OpenReport* refusal() const {
        return !open.opens() ? &open : rate_refused() ? &*first_open_failure : nullptr;
    }
};

// The window's bounds, widened for a rate whose 15 bytes take long on the
// wire: twice the wire time of silence at least, and three times the wire
// time in all.
ExchangeBounds bounds_for_rate(int baud_rate);

// Where the received bytes first differ from the sent text: the index of the
// first wrong byte, or of the first missing one; none when they are equal.
std::optional<std::size_t> first_difference(const std::string& sent, const std::string& received);

// Whether a port others have open is left alone: unless forced.
bool left_alone(const PortHolders& holders, bool force);

// A port left alone because others have it open, as a test that did not run.
AdapterTest held_test(const std::string& path, int baud_rate, const OpenReport& open,
                      const PortHolders& holders);

// The verdict of a whole test, however many runs it had: held,
// not_able_to_open, cannot_do, the worst run's outcome (port_gone, not_opened,
// not_transmitted, timeout; the K-line checks' port gone or not opened again
// count too), not_proven, or success.
Verdict overall_verdict(const AdapterTest& test);

// The steps of test_adapter, for modes that repeat the test their own way.
// prepare_test identifies the port and looks at it (path and baud_rate set),
// and says whether it may be tested; run_test_once opens, exchanges and
// closes once; keep_run counts a run and keeps it if it is among the runs
// kept; finish_test checks the rate and runs the K-line checks.
bool prepare_test(AdapterTest& test, bool force);
TestRun run_test_once(AdapterTest& test, long long number, bool force);
void keep_run(AdapterTest& test, TestRun run);
void finish_test(AdapterTest& test, bool force, bool kline);

// Checks that the port opens (check_open) and who else has it open; a port
// another process has open is tested only when forced. Then runs the exchange
// count times, each with its own open at the rate and close, which puts the
// line back as it was, and checks the rate the line reported; with kline, the
// K-line readiness checks follow on one more open.
AdapterTest test_adapter(const std::string& path, int baud_rate, int count, bool force = false,
                         bool kline = false);
