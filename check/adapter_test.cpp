#include "check/adapter_test.h"

#include "check/custom_rate.h"
#include "serial/serial_port.h"

#include <algorithm>

int exit_status_of(LoopbackVerdict verdict) {
    switch (verdict) {
    case LoopbackVerdict::success:
        return EXIT_SUCCESS_STATUS;
    case LoopbackVerdict::timeout:
        return EXIT_NO_ECHO;
    case LoopbackVerdict::not_able_to_transmit:
        return EXIT_NOT_TRANSMITTED;
    case LoopbackVerdict::not_able_to_open:
        break;
    }
    return EXIT_NOT_OPENED;
}

std::chrono::steady_clock::duration wire_time(int baud_rate) {
    const long long bits = 10LL * std::char_traits<char>::length(TEST_TEXT);
    return std::chrono::nanoseconds(bits * 1'000'000'000LL / std::max(baud_rate, 1));
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

AdapterTest test_adapter(const std::string& path, int baud_rate, int count) {
    AdapterTest test;
    test.path = path;
    test.baud_rate = baud_rate;
    test.open = check_open(path);
    if (holders_matter(test.open.outcome)) {
        test.holders = port_holders(path, test.holders_all_visible);
    }
    if (test.open.outcome != OpenOutcome::opens) {
        return test;
    }
    test.exit_status = EXIT_SUCCESS_STATUS;
    for (int run = 0; run < count; ++run) {
        // The open returns the descriptor for an explicit number.
        const int descriptor = static_cast<int>(loopback_open(CHECK_PORT, path.c_str()));
        if (descriptor == 0) {
            test.runs.push_back({});
        } else if (baud_rate != 9600 && !set_line_rate(descriptor, baud_rate)) {
            serial_close(CHECK_PORT);
            test.setup_failure =
                "the driver does not accept " + std::to_string(baud_rate) + " baud";
            test.exit_status = EXIT_NOT_OPENED;
            return test;
        } else {
            test.line_rate = line_rate(descriptor);
            test.runs.push_back(loopback_exchange(CHECK_PORT, nullptr));
            serial_close(CHECK_PORT);
        }
        test.exit_status = std::max(test.exit_status, exit_status_of(test.runs.back().verdict));
    }
    return test;
}

TimingSummary summarise(const std::vector<LoopbackResult>& runs) {
    TimingSummary summary;
    std::vector<std::chrono::steady_clock::duration> times;
    for (const LoopbackResult& run : runs) {
        if (run.verdict == LoopbackVerdict::success && run.last_byte) {
            ++summary.successes;
            times.push_back(*run.last_byte);
        }
    }
    if (times.empty()) {
        return summary;
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double fraction) {
        return times[static_cast<std::size_t>(fraction * static_cast<double>(times.size() - 1) +
                                              0.5)];
    };
    summary.min = times.front();
    summary.median = at(0.5);
    summary.p99 = at(0.99);
    summary.max = times.back();
    return summary;
}
