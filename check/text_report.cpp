#include "check/text_report.h"

#include "check/byte_text.h"

#include <chrono>
#include <string>

namespace {

std::string milliseconds(std::chrono::steady_clock::duration span) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms",
                  std::chrono::duration<double, std::milli>(span).count());
    return text;
}

void print_holders(const std::vector<PortHolder>& holders, bool all_visible, std::FILE* out) {
    for (const PortHolder& holder : holders) {
        std::fprintf(out,
                     "  held by: process %d (%s); a program reading the port takes the echo away\n",
                     static_cast<int>(holder.pid), holder.command.c_str());
    }
    if (!all_visible) {
        std::fprintf(out, "  held by: processes of other users are visible to root only\n");
    }
}

void print_run(const LoopbackResult& run, std::FILE* out) {
    std::fprintf(out, "  verdict: %s\n", loopback_verdict_text(run.verdict));
    const std::string sent = TEST_TEXT;
    if (run.verdict == LoopbackVerdict::not_able_to_open) {
        return;
    }
    if (run.verdict == LoopbackVerdict::not_able_to_transmit) {
        std::fprintf(out, "  sent: %d of %zu bytes went out; the adapter or its driver is stuck\n",
                     run.bytes_written, sent.size());
        std::fprintf(out, "  fix: unplug the adapter, plug it in again and test again\n");
        return;
    }
    const auto differs = first_difference(sent, run.received_bytes);
    std::fprintf(out, "  sent:     %s\n", quoted_bytes(sent).c_str());
    std::fprintf(out, "            %s\n", hex_bytes(sent, differs).c_str());
    std::fprintf(out, "  received: %s\n", quoted_bytes(run.received_bytes).c_str());
    if (!run.received_bytes.empty()) {
        std::fprintf(out, "            %s\n", hex_bytes(run.received_bytes, differs).c_str());
    }
    if (run.verdict == LoopbackVerdict::timeout) {
        if (run.received_bytes.empty()) {
            std::fprintf(out, "  nothing came back: check +12 V, ground and the 3-pole cable\n");
        } else if (differs && *differs < run.received_bytes.size()) {
            std::fprintf(out, "  first difference: byte %zu, sent %02x, received %02x\n", *differs,
                         static_cast<unsigned char>(sent[*differs]),
                         static_cast<unsigned char>(run.received_bytes[*differs]));
        } else {
            std::fprintf(out, "  echo incomplete: %zu of %zu bytes came back\n",
                         run.received_bytes.size(), sent.size());
        }
    }
}

void print_timing(const LoopbackResult& run, int rate, std::FILE* out) {
    if (!run.first_byte) {
        return;
    }
    std::fprintf(out, "  timing: write to first byte %s, to last byte %s; wire time %s\n",
                 milliseconds(*run.first_byte).c_str(), milliseconds(*run.last_byte).c_str(),
                 milliseconds(wire_time(rate)).c_str());
}

} // namespace

void print_listing(const PortListing& listing, std::FILE* out) {
    if (listing.ports.empty()) {
        std::fprintf(out, "no /dev/ttyUSB* or /dev/ttyACM* port: plug the adapter in%s\n",
                     listing.unbound.empty() ? "" : " (see the converters below)");
    }
    for (const ListedPort& port : listing.ports) {
        std::fprintf(out, "%s (%s)\n", port.path.c_str(), port.kind.c_str());
        std::fprintf(out, "  opens: %s\n", port.open.outcome == OpenOutcome::opens ? "yes" : "no");
        if (port.open.outcome != OpenOutcome::opens) {
            std::fprintf(out, "  reason: %s\n", port.open.reason.c_str());
            std::fprintf(out, "  fix: %s\n", port.open.fix.c_str());
        }
        print_holders(port.holders, port.holders_all_visible, out);
        if (port.usb) {
            const UsbIdentity& usb = *port.usb;
            std::fprintf(out, "  usb: %s:%s %s %s\n", usb.vendor_id.c_str(), usb.product_id.c_str(),
                         usb.manufacturer.c_str(), usb.product.c_str());
            if (!usb.serial.empty()) {
                std::fprintf(out, "  serial number: %s\n", usb.serial.c_str());
            }
            std::fprintf(out, "  driver: %s\n", usb.driver.empty() ? "none" : usb.driver.c_str());
            if (usb.latency_timer_ms) {
                const std::string name = port.path.substr(port.path.rfind('/') + 1);
                std::fprintf(out, "  latency timer: %d ms; %s\n", *usb.latency_timer_ms,
                             latency_advice(*usb.latency_timer_ms, name).c_str());
            }
        }
    }
    for (const UnboundConverter& converter : listing.unbound) {
        std::fprintf(out, "USB converter without a port: %s:%s %s %s (%s, interface %s)\n",
                     converter.vendor_id.c_str(), converter.product_id.c_str(),
                     converter.manufacturer.c_str(), converter.product.c_str(),
                     converter.chip.c_str(), converter.interface.c_str());
        std::fprintf(out, "  reason: %s\n", converter.cause.c_str());
        std::fprintf(out, "  fix: %s\n", converter.fix.c_str());
    }
}

void print_test(const AdapterTest& test, std::FILE* out) {
    std::fprintf(out, "%s at %d baud", test.path.c_str(), test.baud_rate);
    if (test.line_rate && *test.line_rate != test.baud_rate) {
        std::fprintf(out, " (the line runs at %d)", *test.line_rate);
    }
    std::fprintf(out, "\n");
    if (test.open.outcome != OpenOutcome::opens) {
        std::fprintf(out, "  verdict: %s\n",
                     loopback_verdict_text(LoopbackVerdict::not_able_to_open));
        std::fprintf(out, "  reason: %s\n", test.open.reason.c_str());
        std::fprintf(out, "  fix: %s\n", test.open.fix.c_str());
        print_holders(test.holders, test.holders_all_visible, out);
        return;
    }
    if (!test.setup_failure.empty()) {
        std::fprintf(out, "  verdict: %s\n",
                     loopback_verdict_text(LoopbackVerdict::not_able_to_open));
        std::fprintf(out, "  reason: %s\n", test.setup_failure.c_str());
        std::fprintf(out, "  fix: choose a rate the adapter supports, such as 9600 or 10400\n");
        return;
    }
    const int rate = test.line_rate.value_or(test.baud_rate);
    if (test.runs.size() == 1) {
        print_run(test.runs.front(), out);
        print_timing(test.runs.front(), rate, out);
    } else {
        const TimingSummary summary = summarise(test.runs);
        std::fprintf(out, "  tests: %zu, successes: %d\n", test.runs.size(), summary.successes);
        if (summary.median) {
            std::fprintf(out,
                         "  write to last byte: min %s, median %s, p99 %s, max %s; wire time %s\n",
                         milliseconds(*summary.min).c_str(), milliseconds(*summary.median).c_str(),
                         milliseconds(*summary.p99).c_str(), milliseconds(*summary.max).c_str(),
                         milliseconds(wire_time(rate)).c_str());
        }
        for (std::size_t i = 0; i < test.runs.size(); ++i) {
            if (test.runs[i].verdict != LoopbackVerdict::success) {
                std::fprintf(out, "  first failure, test %zu of %zu:\n", i + 1, test.runs.size());
                print_run(test.runs[i], out);
                print_timing(test.runs[i], rate, out);
                break;
            }
        }
    }
    print_holders(test.holders, test.holders_all_visible, out);
}
