#include "check/line/adapter_testing.h"

#include "check/common/byte_text.h"
#include "check/line/line_guard.h"
#include "check/port/interruption.h"
#include "serial/line_settings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <thread>

namespace {

Verdict outcome_of(const LoopbackResult& result) {
    if (result.port_gone) {
        return Verdict::port_gone;
    }
    switch (result.verdict) {
    case LoopbackVerdict::success:
        return Verdict::success;
    case LoopbackVerdict::timeout:
        return Verdict::timeout;
    case LoopbackVerdict::not_able_to_transmit:
        return Verdict::not_transmitted;
    case LoopbackVerdict::not_able_to_open:
        break;
    }
    return Verdict::not_opened;
}

// How a test opens its port: 8N1 at the rate, serial lines only, and shared
// with no other process unless forced.
PortRequest test_request(const AdapterTest& test, bool force) {
    PortRequest request;
    request.path = test.path;
    request.line = serial_line_settings(TEST_BAUD_RATE, 0, 8, 1.0f, 0);
    request.rate = test.baud_rate != TEST_BAUD_RATE ? test.baud_rate : 0;
    request.serial_lines_only = true;
    request.refuse_shared = !force;
    return request;
}

// One more open at the rate, for the readiness checks.
void run_kline_checks(AdapterTest& test, bool force) {
    KlineReadiness& readiness = test.kline.emplace();
    readiness.rate = test.rate;
    readiness.echo_succeeded = test.outcomes[Verdict::success] > 0;
    if (!test.kept.empty()) {
        readiness.echo_last_byte = test.kept.front().result.last_byte;
    }
    readiness.echo_wire_time = wire_time(test.baud_rate);
    readiness.latency_timer_ms = test.identity.latency_timer_ms();
    if (interruption_requested()) {
        readiness.not_measured = "a stop was asked for before the K-line checks ran";
        readiness.measured.interrupted = true;
        readiness.summary = readiness_summary(readiness);
        return;
    }
    const PortRequest request = test_request(test, force);
    LineGuard line(request, request.refuse_shared ? AfterStop::take_back_alone : AfterStop::take_back,
                   "the K-line checks");
    if (!line.opened()) {
        readiness.not_measured = "the port did not open again for the K-line checks: " +
                                 describe_opening(test.path, line.opening()).reason;
        readiness.reopened = false;
        readiness.measured.port_gone = line.opening().failure == OpeningFailure::gone ||
                                       line.opening().failure == OpeningFailure::missing;
        readiness.summary = readiness_summary(readiness);
        return;
    }
    // The checks take about three seconds; a signal meanwhile clears the
    // break and puts the line back.
    readiness.measured = measure_kline(line.port(), test.baud_rate, readiness.latency_timer_ms,
                                       line.opening().input_ours);
    line.give_back();
    readiness.summary = readiness_summary(readiness);
}

} // namespace

ExchangeBounds bounds_for_rate(int baud_rate) {
    using std::chrono::milliseconds;
    const auto wire = std::chrono::ceil<milliseconds>(wire_time(baud_rate));
    ExchangeBounds bounds;
    bounds.poll_tries = std::max<int>(TEST_POLL_TRIES, 2 * wire.count() / TEST_POLL_DELAY_MS + 1);
    bounds.time_limit = std::max(TEST_TIME_LIMIT, 3 * wire);
    bounds.end_when_gone = true;
    return bounds;
}

std::optional<std::size_t> first_difference(const std::string& sent, const std::string& received) {
    const std::size_t common = std::min(sent.size(), received.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (sent[i] != received[i]) {
            return i;
        }
    }
    if (sent.size() == received.size()) {
        return std::nullopt;
    }
    return common;
}

void keep_run(AdapterTest& test, TestRun run) {
    test.exit_status = worse_status(test.exit_status, meaning_of(run.outcome).exit_status);
    test.outcomes.add(run.outcome);
    if (run.outcome == Verdict::not_opened && !test.first_open_failure) {
        test.first_open_failure = run.open;
    }
    if (run.outcome == Verdict::success && run.result.last_byte) {
        test.times.add(*run.result.last_byte);
    }
    if (run.number == 1 || run.outcome != Verdict::success) {
        if (test.kept.size() < KEPT_RUNS) {
            test.kept.push_back(std::move(run));
        } else {
            ++test.failures_left_out;
        }
    }
}

namespace {

// One open, exchange and close. The port is held and its line saved by the
// opening; the close puts the line back. When a stop came during the
// exchange, what came back is the stop's doing: cut_until is then the end of
// the time the exchange would have listened for its echo.
TestRun open_exchange_close(AdapterTest& test, long long number, bool force,
                            std::optional<std::chrono::steady_clock::time_point>& cut_until) {
    TestRun run;
    run.number = number;
    LineGuard line(test_request(test, force), AfterStop::let_go, "the test");
    if (!line.opened()) {
        run.open = describe_opening(test.path, line.opening());
        return run;
    }
    run.line_rate = line.opening().rate;
    if (!test.line_rate) {
        test.line_rate = line.opening().rate;
    }
    const object_number port = line.adopt();
    if (port == 0) {
        run.open = {OpeningFailure::failed,
                    escaped(test.path) +
                        " opened, but lantoric-check had no memory left to keep it open",
                    "close programs that need much memory, then test again"};
        return run;
    }
    const ExchangeBounds bounds = bounds_for_rate(test.baud_rate);
    const auto listened_until = std::chrono::steady_clock::now() + bounds.time_limit;
    run.result = loopback_exchange(port, nullptr, bounds);
    run.outcome = outcome_of(run.result);
    if (line.stopped()) {
        cut_until = listened_until;
    }
    return run;
}

} // namespace

TestRun run_test_once(AdapterTest& test, long long number, bool force) {
    // A run cut by a stop was let go when the program continued, and is run
    // again on a new opening, which finds the port busy if another program
    // took it meanwhile: no stop counts as a timeout, a failure or a success
    // of the adapter.
    for (;;) {
        std::optional<std::chrono::steady_clock::time_point> cut_until;
        TestRun run = open_exchange_close(test, number, force, cut_until);
        if (!cut_until) {
            return run;
        }
        // The echo of the text written before the stop comes back meanwhile,
        // for the new opening to clear.
        std::this_thread::sleep_until(*cut_until);
    }
}

bool prepare_test(AdapterTest& test, bool force) {
    test.identity = identify_port(test.path);
    PortLook look = look_at_port(test.path);
    test.open = std::move(look.open);
    test.holders = std::move(look.holders);
    if (!test.open.opens()) {
        return false;
    }
    if (left_alone(test.holders, force)) {
        test.held_elsewhere = true;
        return false;
    }
    test.exit_status = EXIT_SUCCESS_STATUS;
    return true;
}

void finish_test(AdapterTest& test, bool force, bool kline) {
    test.rate = check_rate(test.baud_rate, test.line_rate, test.identity.chip());
    if (kline && !test.rate_refused()) {
        run_kline_checks(test, force);
    }
    // The port went away, or did not open again: no K-line check is the adapter's.
    if (test.kline && (test.kline->measured.port_gone || !test.kline->reopened)) {
        test.exit_status = worse_status(test.exit_status, EXIT_NOT_OPENED);
    }
    if (test.exit_status != EXIT_SUCCESS_STATUS) {
        return;
    }
    // The echo came back, but the port cannot do what was asked, or the
    // K-line checks did not prove that it can.
    if (rate_fails(test.rate) || (test.kline && readiness_fails(*test.kline))) {
        test.exit_status = EXIT_CANNOT_DO;
    } else if (test.kline && first_unproven(*test.kline) != nullptr) {
        test.exit_status = EXIT_NOT_PROVEN;
    }
}

bool left_alone(const PortHolders& holders, bool force) {
    return !force && shared_with_others(holders);
}

AdapterTest held_test(const std::string& path, int baud_rate, const OpenReport& open,
                      const PortHolders& holders) {
    AdapterTest test;
    test.path = path;
    test.baud_rate = baud_rate;
    test.open = open;
    test.holders = holders;
    test.held_elsewhere = true;
    return test;
}

Verdict overall_verdict(const AdapterTest& test) {
    if (test.held_elsewhere) {
        return Verdict::held;
    }
    if (test.refusal() != nullptr) {
        return Verdict::not_able_to_open;
    }
    if (test.exit_status == EXIT_CANNOT_DO) {
        return Verdict::cannot_do;
    }
    const bool kline_gone = test.kline && test.kline->measured.port_gone;
    const bool kline_not_opened = test.kline && !test.kline->reopened;
    for (Verdict outcome :
         {Verdict::port_gone, Verdict::not_opened, Verdict::not_transmitted, Verdict::timeout}) {
        if (test.outcomes[outcome] > 0 || (outcome == Verdict::port_gone && kline_gone) ||
            (outcome == Verdict::not_opened && kline_not_opened)) {
            return outcome;
        }
    }
    if (test.exit_status == EXIT_NOT_PROVEN) {
        return Verdict::not_proven;
    }
    return Verdict::success;
}

AdapterTest test_adapter(const std::string& path, int baud_rate, int count, bool force,
                         bool kline) {
    AdapterTest test;
    test.path = path;
    test.baud_rate = baud_rate;
    if (!prepare_test(test, force)) {
        return test;
    }
    for (int number = 1; number <= count; ++number) {
        TestRun run = run_test_once(test, number, force);
        test.run_count = number;
        keep_run(test, std::move(run));
        // In the summarising modes the first Ctrl-C ends the test after the
        // run under way, however many were asked for.
        if (test.rate_refused() || interruption_requested()) {
            break;
        }
    }
    finish_test(test, force, kline);
    return test;
}
