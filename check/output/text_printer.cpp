#include "check/output/text_printer.h"

#include "check/common/byte_text.h"
#include "check/common/time_text.h"
#include "check/port/open_diagnosis.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// A tested port says what it cannot see before its verdict instead.
void print_holders(const PortHolders& holders, std::FILE* out, bool tested = false) {
    for (const PortHolder& holder : holders.processes) {
        std::fprintf(out, "  held by: %s; a program reading the port takes the echo away\n",
                     holder_named(holder).c_str());
    }
    if (!holders.all_visible && !tested) {
        std::fprintf(out, "  held by: processes of other users are visible to root only\n");
    }
}

void print_run(const TestRun& test_run, std::FILE* out) {
    const LoopbackResult& run = test_run.result;
    const std::string sent = TEST_TEXT;
    const VerdictMeaning verdict = meaning_of(test_run.outcome);
    std::fprintf(out, "  verdict: %s\n", verdict.shown);
    if (test_run.outcome == Verdict::not_opened) {
        std::fprintf(out, "  reason: %s\n", test_run.open.reason.c_str());
        std::fprintf(out, "  fix: %s\n", test_run.open.fix.c_str());
        return;
    }
    if (test_run.outcome == Verdict::port_gone) {
        std::fprintf(out, "  reason: the port hung up or failed during the test: %s\n",
                     ADAPTER_UNPLUGGED);
        std::fprintf(out, "  fix: %s\n", verdict.fix);
        return;
    }
    if (run.waiting_before > 0) {
        std::fprintf(out, "  waiting before the test: %d bytes, not counted as the echo\n",
                     run.waiting_before);
    }
    if (test_run.outcome == Verdict::not_transmitted) {
        std::fprintf(out, "  sent: %d of %zu bytes went out; the adapter or its driver is stuck\n",
                     run.bytes_written, sent.size());
        std::fprintf(out, "  fix: %s\n", verdict.fix);
        return;
    }
    const auto differs = first_difference(sent, run.received_bytes);
    std::fprintf(out, "  sent:     %s\n", quoted_bytes(sent).c_str());
    std::fprintf(out, "            %s\n", hex_bytes(sent, differs).c_str());
    std::fprintf(out, "  received: %s\n", quoted_bytes(run.received_bytes).c_str());
    if (!run.received_bytes.empty()) {
        std::fprintf(out, "            %s\n", hex_bytes(run.received_bytes, differs).c_str());
    }
    if (test_run.outcome == Verdict::timeout) {
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

void print_timing(const TestRun& test_run, int rate, std::FILE* out) {
    const LoopbackResult& run = test_run.result;
    if (!run.first_byte) {
        return;
    }
    std::fprintf(out, "  timing: write to first byte %s, to last byte %s; wire time %s\n",
                 milliseconds_text(*run.first_byte).c_str(),
                 milliseconds_text(*run.last_byte).c_str(),
                 milliseconds_text(wire_time(rate)).c_str());
}

std::string clock_time(std::chrono::system_clock::time_point moment) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string since_start(const SoakMoment& moment) {
    return clock_time(moment.clock) + " (after " + elapsed_text(moment.after) + ")";
}

void print_absence(const Absence& absence, std::FILE* out) {
    const char* went = absence.closed_to_user ? "closed to this user" : "went away";
    if (!absence.back) {
        std::fprintf(out, "  the port %s at %s and did not come back\n", went,
                     since_start(absence.went).c_str());
        return;
    }
    std::fprintf(out, "  the port %s at %s and came back at %s as %s, %s later\n", went,
                 since_start(absence.went).c_str(), clock_time(absence.back->clock).c_str(),
                 escaped(absence.back_as).c_str(),
                 elapsed_text(absence.back->after - absence.went.after).c_str());
}

void print_soak(const SoakFacts& soak, std::FILE* out) {
    std::fprintf(out, "  soak: ran %s", elapsed_text(soak.ran).c_str());
    if (soak.planned) {
        std::fprintf(out, " of %s", elapsed_text(*soak.planned).c_str());
    }
    std::fprintf(out, "%s\n",
                 soak.interrupted                        ? ", ended early by a signal"
                 : soak.until_fail && soak.first_failure ? ", until the first failure"
                                                         : "");
    if (soak.first_failure) {
        std::fprintf(out, "  first failure: %s; last failure: %s\n",
                     since_start(*soak.first_failure).c_str(),
                     since_start(*soak.last_failure).c_str());
    } else {
        std::fprintf(out, "  no failure\n");
    }
    std::fprintf(out, "  longest run of successes: %lld\n", soak.longest_success_run);
    for (const Absence& absence : soak.absences) {
        print_absence(absence, out);
    }
    if (soak.absences_left_out > 0) {
        std::fprintf(out, "  the port went away %lld more times\n", soak.absences_left_out);
    }
    if (soak.times_held > 0) {
        std::fprintf(out,
                     "  another program held the port %lld %s, %s in all; it was waited for, not "
                     "tested\n",
                     soak.times_held, soak.times_held == 1 ? "time" : "times",
                     elapsed_text(soak.held_for).c_str());
    }
}

// A measurement that did not happen is said as such, with why.
bool print_not_measured(const char* check, const std::string& why, std::FILE* out) {
    if (why.empty()) {
        return false;
    }
    std::fprintf(out, "    %s: not measured: %s\n", check, why.c_str());
    return true;
}

// A break check that did not run, or whose break the driver refused, is said
// so in one line; false when there is more to say.
bool print_break_not_done(const char* check, const char* refused, const std::string& not_measured,
                          bool accepted, int error, std::FILE* out) {
    if (print_not_measured(check, not_measured, out)) {
        return true;
    }
    if (!accepted) {
        std::fprintf(out, "    %s: %s (%s)\n", check, refused, std::strerror(error));
    }
    return !accepted;
}

void print_break(const KlineMeasurement& measured, std::FILE* out) {
    const BreakCheck& fast = measured.fast_break;
    if (print_break_not_done("break", "refused by the driver", fast.not_measured, fast.accepted,
                             fast.error, out)) {
        return;
    }
    std::fprintf(out,
                 "    break: the line was low %s to %s for the 25 ms asked (the clear took %s); "
                 "came back: %s",
                 milliseconds_text(fast.low_at_least).c_str(),
                 milliseconds_text(fast.low_at_most).c_str(),
                 milliseconds_text(fast.clear_took).c_str(),
                 fast.received.empty() ? "nothing" : hex_bytes(fast.received).c_str());
    if (fast.counted_breaks) {
        std::fprintf(out, "; breaks counted by the driver: %d", *fast.counted_breaks);
    }
    std::fprintf(out, "\n");
}

void print_zero_byte(const ZeroByteCheck& zero, std::FILE* out) {
    if (print_not_measured("360 baud", zero.not_measured, out)) {
        return;
    }
    std::fprintf(out, "    360 baud: ");
    if (zero.rate.read_back) {
        std::fprintf(out, "the driver reads back %d baud; ", *zero.rate.read_back);
    }
    if (zero.echo_time) {
        std::fprintf(out, "a zero byte came back as %s after %s (the wire needs %s)\n",
                     hex_bytes(zero.received).c_str(), milliseconds_text(*zero.echo_time).c_str(),
                     milliseconds_text(zero.expected).c_str());
    } else {
        std::fprintf(out, "%s\n", zero.written ? "nothing came back" : "nothing was sent");
    }
}

void print_slow_init(const SlowInitCheck& slow, std::FILE* out) {
    if (print_break_not_done("slow init", "the break was refused", slow.not_measured, slow.accepted,
                             slow.error, out)) {
        return;
    }
    std::fprintf(out,
                 "    slow init: %zu break edges in 200 ms slots; counted from the first, the "
                 "farthest fell at most %s from its slot, and at least %s for certain\n",
                 slow.edges.size() + 1, milliseconds_text(slow.worst_possible).c_str(),
                 milliseconds_text(slow.least_certain).c_str());
}

void print_kline(const KlineReadiness& readiness, std::FILE* out) {
    std::fprintf(out, "  K-line checks:%s\n",
                 readiness.measured.port_gone     ? " the port went away"
                 : readiness.measured.interrupted ? " interrupted"
                                                  : "");
    const RateCheck& rate = readiness.rate;
    if (rate.read_back) {
        std::fprintf(out, "    rate: asked %d baud, the driver reads back %d baud\n", rate.asked,
                     *rate.read_back);
    } else {
        std::fprintf(out, "    rate: asked %d baud, the driver reads back nothing\n", rate.asked);
    }
    const KlineMeasurement& measured = readiness.measured;
    if (!print_not_measured("checks", readiness.not_measured, out)) {
        if (!measured.before_sending.empty()) {
            std::fprintf(out, "    before sending: %s came\n",
                         hex_bytes(measured.before_sending).c_str());
        }
        print_break(measured, out);
        print_zero_byte(measured.zero_byte, out);
        print_slow_init(measured.slow_init, out);
    }
    std::fprintf(out, "    echo latency: ");
    if (readiness.echo_last_byte) {
        std::fprintf(out, "write to last byte %s, wire time %s",
                     milliseconds_text(*readiness.echo_last_byte).c_str(),
                     milliseconds_text(readiness.echo_wire_time).c_str());
    } else {
        std::fprintf(out, "no echo to measure");
    }
    if (readiness.latency_timer_ms) {
        std::fprintf(out, "; latency timer %d ms", *readiness.latency_timer_ms);
    }
    std::fprintf(out, "\n");
    std::fprintf(out, "  K-line readiness:\n");
    for (const ReadinessLine& line : readiness.summary) {
        std::fprintf(out, "    %s: %s: %s\n", line.item.c_str(), readiness_word(line.answer),
                     line.reason.c_str());
        if (!line.fix.empty()) {
            std::fprintf(out, "      fix: %s\n", line.fix.c_str());
        }
    }
}

} // namespace

void print_usb(const PortIdentity& port, std::FILE* out) {
    if (!port.usb) {
        return;
    }
    const UsbIdentity& usb = *port.usb;
    std::fprintf(out, "  usb: %s:%s %s %s\n", escaped(usb.vendor_id).c_str(),
                 escaped(usb.product_id).c_str(), escaped(usb.manufacturer).c_str(),
                 escaped(usb.product).c_str());
    if (!usb.serial.empty()) {
        std::fprintf(out, "  serial number: %s\n", escaped(usb.serial).c_str());
    }
    std::fprintf(out, "  driver: %s\n", usb.driver.empty() ? "none" : escaped(usb.driver).c_str());
    if (usb.latency_timer_ms) {
        std::fprintf(out, "  latency timer: %d ms; %s\n", *usb.latency_timer_ms,
                     escaped(latency_advice(*usb.latency_timer_ms, port.name)).c_str());
    }
}

void print_listing(const PortListing& listing, std::FILE* out) {
    if (listing.ports.empty()) {
        std::fprintf(out, "no /dev/ttyUSB* or /dev/ttyACM* port: plug the adapter in%s\n",
                     listing.unbound.empty() ? "" : " (see the converters below)");
    }
    for (const ListedPort& port : listing.ports) {
        std::fprintf(out, "%s (%s)\n", escaped(port.path).c_str(), port.kind.c_str());
        std::fprintf(out, "  opens: %s\n", port.open.opens() ? "yes" : "no");
        if (!port.open.opens()) {
            std::fprintf(out, "  reason: %s\n", port.open.reason.c_str());
            std::fprintf(out, "  fix: %s\n", port.open.fix.c_str());
        }
        print_holders(port.holders, out);
        print_usb(port.identity, out);
    }
    for (const UnboundConverter& converter : listing.unbound) {
        std::fprintf(out, "USB converter without a port: %s:%s %s %s (%s, interface %s)\n",
                     escaped(converter.vendor_id).c_str(), escaped(converter.product_id).c_str(),
                     escaped(converter.manufacturer).c_str(), escaped(converter.product).c_str(),
                     converter.chip.c_str(), escaped(converter.interface).c_str());
        std::fprintf(out, "  reason: %s\n", escaped(converter.cause).c_str());
        std::fprintf(out, "  fix: %s\n", escaped(converter.fix).c_str());
    }
}

namespace {

// A port that was not tested, and why; false when it was tested.
bool print_untested(const AdapterTest& test, std::FILE* out) {
    const Verdict verdict = overall_verdict(test);
    if (verdict != Verdict::not_able_to_open && verdict != Verdict::held) {
        return false;
    }
    std::fprintf(out, "  verdict: %s\n", meaning_of(verdict).shown);
    if (verdict == Verdict::held) {
        for (const PortHolder& holder : test.holders.processes) {
            std::fprintf(out, "  held by: %s: not tested, so its line stays as it is\n",
                         holder_named(holder).c_str());
        }
        if (test.holders.processes.empty()) {
            std::fprintf(out, "  held by: %s: not tested, so its line stays as it is\n",
                         holders_named(test.holders).c_str());
        }
        std::fprintf(out, "  fix: %s\n", held_fix(test).c_str());
        return true;
    }
    std::fprintf(out, "  reason: %s\n", test.refusal()->reason.c_str());
    std::fprintf(out, "  fix: %s\n", test.refusal()->fix.c_str());
    if (!test.open.opens()) {
        print_holders(test.holders, out);
    }
    return true;
}

// Several runs: their counts, the echo times of the successes, and the first
// run that failed.
void print_run_summary(const AdapterTest& test, int rate, std::FILE* out) {
    std::fprintf(out, "  tests: %lld, successes: %lld%s\n", test.run_count,
                 test.outcomes[Verdict::success], failed_run_counts(test).c_str());
    if (test.first_open_failure) {
        std::fprintf(out, "  could not open: %s; %s\n", test.first_open_failure->reason.c_str(),
                     test.first_open_failure->fix.c_str());
    }
    const EchoTimes& times = test.times;
    if (times.count() > 0) {
        std::fprintf(out, "  write to last byte: min %s, median %s, p99 %s, max %s; wire time %s\n",
                     milliseconds_text(*times.min()).c_str(),
                     milliseconds_text(*times.quantile(0.5)).c_str(),
                     milliseconds_text(*times.quantile(0.99)).c_str(),
                     milliseconds_text(*times.max()).c_str(),
                     milliseconds_text(wire_time(rate)).c_str());
    }
    for (const TestRun& run : test.kept) {
        if (run.outcome != Verdict::success) {
            std::fprintf(out, "  first failure, test %lld of %lld:\n", run.number, test.run_count);
            print_run(run, out);
            print_timing(run, rate, out);
            break;
        }
    }
}

} // namespace

std::string failed_run_counts(const AdapterTest& test) {
    std::string counts;
    for (Verdict outcome :
         {Verdict::timeout, Verdict::not_transmitted, Verdict::port_gone, Verdict::not_opened}) {
        if (const long long times = test.outcomes[outcome]; times > 0) {
            counts += std::string(", ") + meaning_of(outcome).word + ": " + std::to_string(times);
        }
    }
    return counts;
}

bool print_test_heading(const AdapterTest& test, std::FILE* out) {
    std::fprintf(out, "%s at %d baud", escaped(test.path).c_str(), test.baud_rate);
    if (test.line_rate && *test.line_rate != test.baud_rate) {
        std::fprintf(out, " (the line runs at %d)", *test.line_rate);
    }
    std::fprintf(out, "\n");
    if (test.open.opens() && !test.held_elsewhere && !test.holders.all_visible) {
        // Other users' processes cannot be looked into: one of them (a
        // modem manager, a braille driver) may have the port open.
        std::fprintf(out,
                     "  may be in use: by a program of another user, which this user cannot see "
                     "(sudo lantoric-check %s shows it)\n",
                     escaped(test.path).c_str());
    }
    return !print_untested(test, out);
}

void print_test(const AdapterTest& test, std::FILE* out) {
    if (!print_test_heading(test, out)) {
        return;
    }
    const int rate = test.line_rate.value_or(test.baud_rate);
    if (test.run_count == 1 && !test.kept.empty() && !test.soak) {
        print_run(test.kept.front(), out);
        print_timing(test.kept.front(), rate, out);
    } else {
        print_run_summary(test, rate, out);
    }
    if (test.soak) {
        print_soak(*test.soak, out);
    }
    if (rate_fails(test.rate)) {
        const ReadinessLine rate_line = *rate_problem(test.rate);
        std::fprintf(out, "  rate: %s\n", rate_line.reason.c_str());
        std::fprintf(out, "  fix: %s\n", rate_line.fix.c_str());
    }
    if (test.kline) {
        print_kline(*test.kline, out);
    }
    print_test_holders(test, out);
}

void print_test_holders(const AdapterTest& test, std::FILE* out) {
    print_holders(test.holders, out, true);
}

std::string cannot_do_reason(const AdapterTest& test) {
    if (rate_fails(test.rate)) {
        return rate_problem(test.rate)->reason;
    }
    if (test.kline) {
        for (const ReadinessLine& line : test.kline->summary) {
            if (line.answer == Readiness::no) {
                return line.item + ": " + line.reason;
            }
        }
    }
    return {};
}

std::string kline_trouble(const AdapterTest& test) {
    if (!test.kline) {
        return {};
    }
    const KlineReadiness& kline = *test.kline;
    if (kline.measured.port_gone) {
        return escaped(test.path) +
               " went away during the K-line checks: " + unplugged_advice("; ");
    }
    if (!kline.reopened) {
        return escaped(test.path) + ": " + kline.not_measured;
    }
    const ReadinessLine* unproven = first_unproven(kline);
    if (test.exit_status != EXIT_NOT_PROVEN || unproven == nullptr) {
        return {};
    }
    return escaped(test.path) + ": the echo came back, but the K-line checks did not prove the " +
           "port ready: " + unproven->item + ": cannot tell: " + unproven->reason + "; " +
           meaning_of(Verdict::not_proven).fix;
}

std::string holders_named(const PortHolders& holders) {
    if (holders.processes.empty()) {
        // Input waits unread, and whoever reads it is hidden from this user.
        return "a program of another user, which this user cannot see, it seems: " +
               std::to_string(holders.input_waiting) + " bytes wait unread on the port";
    }
    std::string named;
    for (const PortHolder& holder : holders.processes) {
        named += (named.empty() ? "" : ", ") + holder_named(holder);
    }
    return named;
}

std::string holder_named(const PortHolder& holder) {
    return "process " + std::to_string(holder.pid) + " (" + escaped(holder.command) + ")";
}

std::string held_fix(const AdapterTest& test) {
    const std::string fix = "close that program, or give --force to test the port anyway";
    if (!test.holders.processes.empty()) {
        return fix;
    }
    return "sudo lantoric-check " + escaped(test.path) + " shows which program it is; " + fix;
}
