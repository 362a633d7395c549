#include "check/ecu/ecu_testing.h"

#include "check/ecu/ecu_meaning.h"
#include "check/line/line_guard.h"
#include "check/port/interruption.h"
#include "serial/line_settings.h"

namespace {

// 8N1 at the K-line's rate, serial lines only, shared with no other process
// unless forced.
PortRequest ecu_port_request(const std::string& path, bool force) {
    PortRequest request;
    request.path = path;
    request.line = serial_line_settings(TEST_BAUD_RATE, 0, 8, 1.0f, 0);
    request.rate = KLINE_RATE;
    request.serial_lines_only = true;
    request.refuse_shared = !force;
    return request;
}

// The handshake's one opening, given back by the guard on every path.
void open_check_close(EcuTest& test, const EcuRequest& request, bool force) {
    const PortRequest port_request = ecu_port_request(test.port.path, force);
    LineGuard line(port_request,
                   port_request.refuse_shared ? AfterStop::take_back_alone : AfterStop::take_back,
                   "the ECU check");
    if (!line.opened()) {
        test.port.open = describe_opening(test.port.path, line.opening());
        test.port.first_open_failure = test.port.open;
        test.port.exit_status = EXIT_NOT_OPENED;
        test.ecu.not_checked = "the port did not open for the handshake: " + test.port.open.reason;
        return;
    }
    test.port.line_rate = line.opening().rate;
    test.port.rate = check_rate(KLINE_RATE, line.opening().rate, test.port.identity.chip());
    test.ecu = check_ecu(line.port(), request, test.port.identity.latency_timer_ms(),
                         line.opening().input_ours);
    line.give_back();
    test.ecu.rate.chip_lowest_rate = test.port.rate.chip_lowest_rate;
    test.ecu.rate.chip = test.port.rate.chip;
    test.port.exit_status = ecu_exit_status(test.ecu);
}

} // namespace

EcuTest test_ecu(const std::string& path, const EcuRequest& request, bool force) {
    EcuTest test;
    test.port.path = path;
    test.port.baud_rate = KLINE_RATE;
    test.ecu.request = request;
    if (!prepare_test(test.port, force)) {
        test.ecu.not_checked = test.port.held_elsewhere ? "another program has the port open"
                                                        : "the port does not open";
        return test;
    }
    if (interruption_requested()) {
        test.ecu.not_checked = "a stop was asked for before the handshake";
        test.port.exit_status = EXIT_NOT_PROVEN;
        return test;
    }
    open_check_close(test, request, force);
    return test;
}
