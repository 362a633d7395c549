// lantoric-check: the port doctor and scriptable adapter check. Without a
// port it lists the USB serial ports and why each does or does not open; with
// ports (or --all) it runs the window's loopback test on each.
#include "check/command_line/options.h"
#include "check/common/byte_text.h"
#include "check/ecu/ecu_testing.h"
#include "check/line/adapter_testing.h"
#include "check/output/block_output.h"
#include "check/output/ecu_printer.h"
#include "check/output/json_document.h"
#include "check/output/report_file.h"
#include "check/output/text_printer.h"
#include "check/port/interruption.h"
#include "check/port/port_listing.h"
#include "check/workbench/soak.h"
#include "check/workbench/watch_mode.h"
#include "serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A standard stream that is closed is taken by a descriptor that cannot be
// written, so no port opened later lands on it and a report written to it
// fails as it should.
void occupy_closed_streams() {
    for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) < 0 && errno == EBADF) {
            open("/dev/null", O_RDONLY);
        }
    }
}

// One line on standard error, whatever the line's text holds.
void complain(const std::string& line) {
    std::fprintf(stderr, "lantoric-check: %s\n", line.c_str());
}

// The report is useless if it did not reach standard output: that is said on
// standard error and the exit status becomes 74.
int finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        complain(std::string("cannot write the report to standard output: ") +
                 std::strerror(error != 0 ? error : EIO));
        return EXIT_OUTPUT_FAILED;
    }
    return status;
}

// The line for standard error when a port was not tested or failed for a
// reason other than its echo alone; empty otherwise.
std::string trouble_line(const AdapterTest& test) {
    const Verdict verdict = overall_verdict(test);
    if (verdict == Verdict::not_able_to_open) {
        return test.refusal()->reason + "; " + test.refusal()->fix;
    }
    if (verdict == Verdict::held) {
        return escaped(test.path) + " is held by " + holders_named(test.holders) +
               ": not tested; " + held_fix(test);
    }
    std::string line;
    if (const long long gone = test.outcomes[Verdict::port_gone]; gone > 0) {
        line = escaped(test.path) + " went away during " + std::to_string(gone) + " of " +
               std::to_string(test.run_count) + " tests: " + unplugged_advice("; ");
    }
    if (test.first_open_failure) {
        line += (line.empty() ? "" : "; then it did not open: ") + test.first_open_failure->reason +
                "; " + test.first_open_failure->fix;
    }
    if (line.empty()) {
        line = kline_trouble(test);
    }
    if (line.empty() && verdict == Verdict::cannot_do) {
        line = escaped(test.path) + ": the echo came back, but the port " +
               meaning_of(verdict).word + ": " + cannot_do_reason(test);
    }
    return line;
}

// The modes that run until a time, a failure or a stop, so the first Ctrl-C
// ends them after the test under way, with what they found so far; --count
// summarises too, but its runs are counted out.
bool soaking_or_watching(const CheckOptions& options) {
    return options.watch || options.duration || options.until_fail;
}

// Without ports: the listing, as text at once or as the JSON document.
std::string list_the_ports(const CheckOptions& options) {
    const PortListing listing = list_ports();
    if (options.json) {
        return listing_json(listing, EXIT_SUCCESS_STATUS);
    }
    // A report lists the ports itself.
    BlockOutput(false, true).block([&](std::FILE* out) { print_listing(listing, out); });
    return {};
}

// The ports --all tests: those that open. One another program has open is
// listed as held and, unless forced, not tested; it does not count in the
// exit status.
std::vector<std::string> ports_for_all(const CheckOptions& options, BlockOutput& output,
                                       std::vector<AdapterTest>& tests) {
    const PortListing listing = list_ports();
    std::vector<std::string> paths;
    for (const ListedPort& port : listing.ports) {
        if (!port.open.opens()) {
            continue;
        }
        if (left_alone(port.holders, options.force)) {
            tests.push_back(held_test(port.path, options.baud_rate, port.open, port.holders));
            output.block([&](std::FILE* out) { print_test(tests.back(), out); });
        } else {
            paths.push_back(port.path);
        }
    }
    return paths;
}

// One port's test as the options ask: a soak or a number of runs.
AdapterTest test_one_port(const CheckOptions& options, const std::string& path) {
    if (!soaking_or_watching(options)) {
        return test_adapter(path, options.baud_rate, options.count, options.force, options.kline);
    }
    SoakPlan plan;
    plan.baud_rate = options.baud_rate;
    plan.duration = options.duration;
    plan.until_fail = options.until_fail;
    plan.force = options.force;
    plan.kline = options.kline;
    const bool live = isatty(STDOUT_FILENO) != 0 && !options.json;
    return soak_adapter(path, plan, options.json ? nullptr : stdout, live);
}

// With --ecu: the port's ECU check, printed; the check goes to ecu_checks,
// the port (with the check's exit status) is returned.
AdapterTest check_one_ecu(const CheckOptions& options, const std::string& path, BlockOutput& output,
                          std::vector<EcuCheck>& ecu_checks) {
    EcuTest checked = test_ecu(path, *options.ecu, options.force);
    const bool untested = checked.port.refusal() != nullptr || checked.port.held_elsewhere;
    output.block([&](std::FILE* out) { print_ecu_test(checked.port, checked.ecu, out); });
    if (const std::string line =
            untested ? trouble_line(checked.port) : ecu_trouble(checked.port, checked.ecu);
        !line.empty()) {
        complain(line);
    }
    ecu_checks.push_back(std::move(checked.ecu));
    return std::move(checked.port);
}

// One port's test as the options ask, printed, with what kept the port from
// being tested on standard error too, as one line for scripts that only show
// errors.
AdapterTest test_and_print(const CheckOptions& options, const std::string& path,
                           BlockOutput& output, std::vector<EcuCheck>& ecu_checks) {
    if (options.ecu) {
        return check_one_ecu(options, path, output, ecu_checks);
    }
    AdapterTest test = test_one_port(options, path);
    output.block([&](std::FILE* out) { print_test(test, out); });
    if (const std::string line = trouble_line(test); !line.empty()) {
        complain(line);
    }
    return test;
}

// The ports named, or all with --all, one after the other; the highest exit
// status of them. With --ecu, ecu_checks gets each port's check, a port left
// alone one that says why it was not checked.
int test_the_ports(const CheckOptions& options, BlockOutput& output,
                   std::vector<AdapterTest>& tests, std::vector<EcuCheck>& ecu_checks) {
    std::vector<std::string> paths = options.ports;
    int status = EXIT_SUCCESS_STATUS;
    if (options.all) {
        paths = ports_for_all(options, output, tests);
        if (paths.empty()) {
            complain("no port to test: none of /dev/ttyUSB* and /dev/ttyACM* opens without "
                     "another program holding it; run lantoric-check alone to see why");
            status = EXIT_NOT_OPENED;
        }
    }
    while (options.ecu && ecu_checks.size() < tests.size()) {
        EcuCheck left_alone;
        left_alone.request = *options.ecu;
        left_alone.not_checked = "another program has the port open";
        ecu_checks.push_back(left_alone);
    }
    for (const std::string& path : paths) {
        tests.push_back(test_and_print(options, path, output, ecu_checks));
        status = worse_status(status, tests.back().exit_status);
        if (interruption_requested() || output_closed()) {
            break;
        }
    }
    return status;
}

// --help and --version, printed at once; false for every other mode.
bool answers_at_once(const CheckOptions& options) {
    if (!options.help.empty()) {
        std::fputs(options.help.c_str(), stdout);
        return true;
    }
    if (!options.version) {
        return false;
    }
    if (options.json) {
        std::fputs(version_json().c_str(), stdout);
    } else {
        std::printf("lantoric-check %s\n", LANTORIC_VERSION);
    }
    return true;
}

// The watch, the listing or the tests of the ports, as the options ask; the
// JSON document when asked for one, status their exit status.
std::string run_mode(const CheckOptions& options, BlockOutput& output, int& status) {
    std::vector<AdapterTest> tests;
    std::vector<EcuCheck> ecu_checks;
    if (options.watch) {
        status = watch_ports(options, output, tests);
    } else if (options.ports.empty() && !options.all) {
        return list_the_ports(options);
    } else {
        status = test_the_ports(options, output, tests, ecu_checks);
    }
    return options.json ? tests_json(tests, status, ecu_checks) : "";
}

} // namespace

int main(int argc, char** argv) {
    occupy_closed_streams();
    // The character set only, in which the parser reads the arguments:
    // numbers print the same in every locale.
    std::setlocale(LC_CTYPE, "");
    std::string error;
    auto options = parse_check_options(argc, argv, error);
    if (!options) {
        complain(escaped(error));
        return EXIT_USAGE;
    }
    if (answers_at_once(*options)) {
        return finish(EXIT_SUCCESS_STATUS);
    }
    ReportFiles report;
    if (std::string report_error;
        !options->report.empty() && !report.prepare(options->report, options->json, report_error)) {
        complain(report_error);
        return finish(EXIT_OUTPUT_FAILED);
    }
    // A port that hangs up mid-write must end in a verdict, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // A handshake asked to stop ends the ECU's session before the port goes.
    if (soaking_or_watching(*options) || options->ecu) {
        interruption_install_graceful();
    } else {
        interruption_install();
    }
    serial_init();
    // Text goes out block by block (JSON at the end); what --report needs of
    // it is kept.
    BlockOutput output(!options->report.empty(), !options->json);
    int status = EXIT_SUCCESS_STATUS;
    const std::string json = run_mode(*options, output, status);
    std::fputs(json.c_str(), stdout);
    if (!options->report.empty()) {
        std::string report_error;
        if (!report.write(output.kept(), json, report_error)) {
            complain(report_error);
            return finish(EXIT_OUTPUT_FAILED);
        }
        std::fprintf(options->json ? stderr : stdout, "report: %s\n",
                     escaped(options->report).c_str());
    }
    status = finish(status);
    if (options->ecu) {
        interruption_end_as_asked();
    }
    return status;
}
