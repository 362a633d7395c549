#include "check/output/ecu_printer.h"

#include "check/common/byte_text.h"
#include "check/common/time_text.h"
#include "check/ecu/ecu_meaning.h"
#include "check/output/text_printer.h"

#include <chrono>

namespace {

// An attempt or check a stop or the port's going ended before a diagnosis.
constexpr const char* CUT_SHORT = "cut short";

// A window's edge: whole milliseconds as such ("60"), others with a decimal.
std::string edge_text(LineSpan edge) {
    if (edge % std::chrono::milliseconds(1) == LineSpan::zero()) {
        return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(edge).count());
    }
    return milliseconds_number(edge);
}

// A window that ends nowhere (the idle before a wake-up) has only its start.
std::string window_text(const StepTiming& timing) {
    if (timing.window_to <= timing.window_from) {
        return "window from " + edge_text(timing.window_from) + " ms";
    }
    const char* to = timing.window_from < LineSpan::zero() ? " to " : "-";
    return "window " + edge_text(timing.window_from) + to + edge_text(timing.window_to) + " ms";
}

// "sent 81 33 f1 81 26; received 83 f1 10 c1 ef 8f c4: ok"; a step that
// sends nothing says only what came.
void print_step(const EcuStep& step, std::FILE* out) {
    std::string bytes;
    if (!step.sent.empty()) {
        bytes = "sent " + hex_bytes(step.sent) + "; ";
    }
    bytes += "received " + (step.received.empty() ? "nothing" : hex_bytes(step.received));
    std::fprintf(out, "    %s: %s: %s\n", escaped(step.what).c_str(), bytes.c_str(),
                 step.ok ? "ok" : "failed");
    if (step.timing) {
        std::fprintf(out, "      %s\n", step_timing_text(*step.timing).c_str());
    }
}

void print_attempt(const EcuAttempt& attempt, bool several, std::FILE* out) {
    std::fprintf(out, "  %s at %s (%s):\n", protocol_word(attempt.protocol),
                 address_text(attempt.address).c_str(), protocol_title(attempt.protocol));
    for (const EcuStep& step : attempt.steps) {
        print_step(step, out);
    }
    if (several) {
        std::fprintf(out, "    gave: %s\n",
                     attempt.diagnosis ? meaning_of(*attempt.diagnosis).word : CUT_SHORT);
    }
}

// What an ECU that answered is: protocol, address, key bytes, rate, and
// whether the session was ended.
void print_answer(const EcuAttempt& attempt, std::FILE* out) {
    std::fprintf(out, "  protocol: %s (%s), address %s\n", protocol_title(attempt.protocol),
                 protocol_word(attempt.protocol), address_text(attempt.address).c_str());
    if (attempt.key_bytes) {
        std::fprintf(out, "  key bytes: %s: %s\n", hex_bytes(*attempt.key_bytes).c_str(),
                     key_bytes_meaning(*attempt.key_bytes).c_str());
    }
    if (attempt.ecu_rate) {
        std::fprintf(out, "  ECU rate: %d baud\n", *attempt.ecu_rate);
    }
    std::fprintf(
        out, "  session: %s%s\n", attempt.session_held ? "" : "it did not hold (test again); ",
        attempt.ended ? "ended"
                      : "not ended: the ECU ends it by itself after 5 s without a request");
}

void print_diagnosis(const EcuCheck& ecu, std::FILE* out) {
    const EcuAttempt& deciding = *ecu.deciding();
    if (!ecu.diagnosis()) {
        std::fprintf(out, "  diagnosis: none, the check was %s (%s)\n  fix: test again\n",
                     CUT_SHORT, escaped(ecu.not_checked).c_str());
        return;
    }
    const EcuDiagnosisMeaning meaning = meaning_of(*ecu.diagnosis());
    std::fprintf(out, "  diagnosis: %s%s%s%s\n", meaning.sentence,
                 deciding.detail.empty() ? "" : " (", escaped(deciding.detail).c_str(),
                 deciding.detail.empty() ? "" : ")");
    if (deciding.suggested_rate) {
        std::fprintf(out, "  the sync byte suggests: %d baud\n", *deciding.suggested_rate);
    }
    if (ecu.diagnosis() == EcuDiagnosis::answered) {
        print_answer(deciding, out);
    } else {
        std::fprintf(out, "  fix: %s\n", meaning.fix);
    }
}

} // namespace

std::string address_text(int address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(address) & 0xffu);
    return text;
}

std::string step_timing_text(const StepTiming& timing) {
    return escaped(timing.name) + " at least " + milliseconds_text(timing.at_least) + ", at most " +
           milliseconds_text(timing.at_most) + "; " + window_text(timing) + ": " +
           readiness_word(timing.judged);
}

void print_ecu_test(const AdapterTest& port, const EcuCheck& ecu, std::FILE* out) {
    if (!print_test_heading(port, out)) {
        return;
    }
    const EcuRequest& request = ecu.request;
    std::fprintf(out, "  ECU: %s",
                 request.protocol ? protocol_word(*request.protocol)
                                  : "auto (fast init, then 5 baud)");
    if (request.address) {
        std::fprintf(out, ", address %s", address_text(*request.address).c_str());
    }
    std::fprintf(out, "\n");
    if (ecu.attempts.empty()) {
        std::fprintf(out, "  not checked: %s\n", escaped(ecu.not_checked).c_str());
        print_test_holders(port, out);
        return;
    }
    if (ecu.rate.read_back) {
        std::fprintf(out, "  rate: asked %d baud, the driver reads back %d baud\n", ecu.rate.asked,
                     *ecu.rate.read_back);
    }
    std::fprintf(out, "  our bytes came back: %s\n", ecu.echo_seen ? "yes" : "no");
    for (const EcuAttempt& attempt : ecu.attempts) {
        print_attempt(attempt, ecu.attempts.size() > 1, out);
    }
    print_diagnosis(ecu, out);
    print_test_holders(port, out);
}

std::string ecu_trouble(const AdapterTest& port, const EcuCheck& ecu) {
    if (port.refusal() != nullptr || port.held_elsewhere) {
        return {};
    }
    if (ecu.attempts.empty()) {
        return escaped(port.path) + ": the ECU was not checked: " + escaped(ecu.not_checked);
    }
    return ecu.diagnosis() ? std::string()
                           : escaped(port.path) + ": the ECU check was " + CUT_SHORT + ": " +
                                 escaped(ecu.not_checked);
}
