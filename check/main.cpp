// lantoric-check: the port doctor and scriptable adapter check. Without a
// port it lists the USB serial ports and why each does or does not open; with
// ports (or --all) it runs the window's loopback test on each.
#include "check/adapter_test.h"
#include "check/json_report.h"
#include "check/options.h"
#include "check/port_listing.h"
#include "check/text_report.h"
#include "serial/serial_port.h"

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // The character set only (for the help's punctuation): numbers print the
    // same in every locale.
    std::setlocale(LC_CTYPE, "");
    std::string error;
    auto options = parse_check_options(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "lantoric-check: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options->version) {
        std::printf("lantoric-check %s\n", LANTORIC_VERSION);
        return EXIT_SUCCESS_STATUS;
    }
    // A port that hangs up mid-write must end in a verdict, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    serial_init();

    std::vector<std::string> paths = options->ports;
    if (options->ports.empty() && !options->all) {
        PortListing listing = list_ports();
        if (options->json) {
            std::fputs(listing_json(listing, EXIT_SUCCESS_STATUS).c_str(), stdout);
        } else {
            print_listing(listing, stdout);
        }
        return EXIT_SUCCESS_STATUS;
    }
    if (options->all) {
        for (const ListedPort& port : list_ports().ports) {
            if (port.open.outcome == OpenOutcome::opens) {
                paths.push_back(port.path);
            }
        }
        if (paths.empty()) {
            std::fprintf(stderr, "lantoric-check: no port to test: none of /dev/ttyUSB* and "
                                 "/dev/ttyACM* opens; run lantoric-check alone to see why\n");
            if (options->json) {
                std::fputs(tests_json({}, EXIT_NOT_OPENED).c_str(), stdout);
            }
            return EXIT_NOT_OPENED;
        }
    }
    std::vector<AdapterTest> tests;
    int status = EXIT_SUCCESS_STATUS;
    for (const std::string& path : paths) {
        tests.push_back(test_adapter(path, options->baud_rate, options->count));
        const AdapterTest& test = tests.back();
        status = std::max(status, test.exit_status);
        if (!options->json) {
            print_test(test, stdout);
        }
        // Whatever kept the port from being tested also goes to standard
        // error, as one line, for scripts that only show errors.
        if (test.open.outcome != OpenOutcome::opens) {
            std::fprintf(stderr, "lantoric-check: %s; %s\n", test.open.reason.c_str(),
                         test.open.fix.c_str());
        } else if (!test.setup_failure.empty()) {
            std::fprintf(stderr, "lantoric-check: %s: %s\n", path.c_str(),
                         test.setup_failure.c_str());
        }
    }
    if (options->json) {
        std::fputs(tests_json(tests, status).c_str(), stdout);
    }
    return status;
}
