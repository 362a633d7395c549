#include "check/ecu/ecu_check.h"

#include "check/common/byte_text.h"
#include "check/ecu/fast_init.h"
#include "check/ecu/handshake.h"
#include "check/ecu/kline_wire.h"
#include "check/ecu/kw1281_session.h"
#include "check/ecu/slow_init_session.h"
#include "check/port/interruption.h"
#include "check/port/port_identity.h"
#include "serial/line_rate.h"

#include <termios.h>
#include <vector>

namespace {

using std::chrono::milliseconds;

// Before the first wake-up the bus is listened to for as long as a wake-up
// needs it idle: another tester's traffic or a line held low shows.
constexpr milliseconds LISTEN_BEFORE{300};
constexpr std::size_t LISTEN_MOST = 64;

constexpr const char* STOP_ASKED = "a stop was asked for; any session begun was ended first";
constexpr const char* STOPPED =
    "lantoric-check was stopped during the handshake, and the line was given back meanwhile";
constexpr const char* TAKEN = "another program took the port while lantoric-check was stopped";

// What the bus carried before anything was sent, as the attempt it refuses.
bool bus_free(KlineWire& wire, EcuCheck& check, EcuProtocol protocol, int address) {
    std::string heard;
    bool low = false;
    const Deadline until = Deadline::after(LISTEN_BEFORE);
    while (heard.size() < LISTEN_MOST) {
        const std::optional<WireByte> byte = wire.next(until);
        if (!byte) {
            break;
        }
        heard.push_back(static_cast<char>(byte->value));
        low |= byte->value == 0;
    }
    if (heard.empty()) {
        return true;
    }
    EcuAttempt& attempt = check.attempts.emplace_back();
    attempt.protocol = protocol;
    attempt.address = address;
    attempt.diagnosis = low ? EcuDiagnosis::held_low : EcuDiagnosis::busy;
    attempt.detail = (low ? "zero bytes or breaks on the bus before anything was sent: "
                          : "traffic on the bus before anything was sent: ") +
                     hex_bytes(heard);
    return false;
}

void run_attempt(KlineWire& wire, EcuCheck& check, EcuProtocol protocol, int address,
                 bool pseudo_terminal) {
    EcuAttempt& attempt = check.attempts.emplace_back();
    attempt.protocol = protocol;
    attempt.address = address;
    Handshake handshake{wire, check, attempt, pseudo_terminal};
    switch (protocol) {
    case EcuProtocol::kwp_fast:
        fast_init_attempt(handshake);
        break;
    case EcuProtocol::iso9141:
    case EcuProtocol::kwp_slow:
        slow_init_attempt(handshake);
        break;
    case EcuProtocol::kw1281:
        kw1281_attempt(handshake);
        break;
    }
    // StartCommunication went out at another rate than the ECU's.
    if (protocol == EcuProtocol::kwp_fast && attempt.diagnosis == EcuDiagnosis::silent &&
        check.echo_seen && check.rate.read_back && !check.rate.within_tolerance) {
        attempt.diagnosis = EcuDiagnosis::adapter_rate;
        attempt.detail = "the adapter runs " + std::to_string(*check.rate.read_back) +
                         " baud for " + std::to_string(check.rate.asked) + ", which no ECU at " +
                         std::to_string(check.rate.asked) + " reads";
    }
}

// Whether another wake-up may still find the ECU: nothing answered this one,
// or it answered at another rate. An ECU that talked (refused, broken, late)
// has said what it is, and an adapter that does not echo or a bus held low
// or busy fails every wake-up alike.
bool worth_another_wake_up(std::optional<EcuDiagnosis> diagnosis) {
    return diagnosis == EcuDiagnosis::silent || diagnosis == EcuDiagnosis::adapter_rate ||
           diagnosis == EcuDiagnosis::other_rate;
}

// Why no more wake-ups may follow; empty when they may.
std::string reason_to_stop(const KlineWire& wire, const StoppedSince& stops) {
    if (!interruption_port_kept()) {
        return TAKEN;
    }
    if (stops.stopped()) {
        return STOPPED;
    }
    if (wire.stopped() || interruption_requested()) {
        return STOP_ASKED;
    }
    return wire.gone() ? "the port went away during the handshake" : "";
}

} // namespace

const EcuAttempt* EcuCheck::deciding() const {
    for (const EcuAttempt& attempt : attempts) {
        if (attempt.diagnosis == EcuDiagnosis::answered) {
            return &attempt;
        }
    }
    if (attempts.empty() || !attempts.back().diagnosis) {
        return attempts.empty() ? nullptr : &attempts.back();
    }
    for (auto attempt = attempts.rbegin(); attempt != attempts.rend(); ++attempt) {
        if (attempt->diagnosis != EcuDiagnosis::silent) {
            return &*attempt;
        }
    }
    return &attempts.back();
}

bool EcuCheck::answered() const {
    const EcuAttempt* attempt = deciding();
    return attempt != nullptr && attempt->diagnosis == EcuDiagnosis::answered;
}

std::optional<EcuDiagnosis> EcuCheck::diagnosis() const {
    const EcuAttempt* attempt = deciding();
    return attempt != nullptr ? attempt->diagnosis : std::nullopt;
}

EcuCheck check_ecu(const OpenPort& port, const EcuRequest& request,
                   std::optional<int> latency_timer_ms, bool input_ours) {
    EcuCheck check;
    check.request = request;
    const int descriptor = port.descriptor();
    const bool pseudo_terminal = port_kind_now(descriptor) == PortKind::pseudo_terminal;
    const std::optional<SavedLine> line = save_line(descriptor);
    const bool rate_set = set_line_rate(descriptor, KLINE_RATE);
    check.rate = check_rate(KLINE_RATE, rate_set ? line_rate(descriptor) : std::nullopt,
                            ConverterChip::unknown);
    // Errors and breaks marked (FF 00 byte), so a garbled byte is never taken
    // for one the ECU sent; the CP210x driver marks them only with INPCK.
    (void)change_input_flags(descriptor, PARMRK | INPCK, IGNBRK | BRKINT | IGNPAR | ISTRIP);
    if (input_ours) {
        tcflush(descriptor, TCIFLUSH);
    }
    KlineWire wire(descriptor, KLINE_RATE, arrival_uncertainty(pseudo_terminal, latency_timer_ms));
    const StoppedSince stops;
    std::vector<EcuProtocol> plan{EcuProtocol::kwp_fast, EcuProtocol::iso9141};
    if (request.protocol) {
        plan = {*request.protocol};
    }
    const int first_address = request.address.value_or(default_address(plan.front()));
    if (interruption_requested()) {
        check.not_checked = "a stop was asked for before the handshake";
    } else if (bus_free(wire, check, plan.front(), first_address)) {
        bool retried = false;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const EcuProtocol protocol = plan[i];
            run_attempt(wire, check, protocol, request.address.value_or(default_address(protocol)),
                        pseudo_terminal);
            check.not_checked = reason_to_stop(wire, stops);
            EcuAttempt& last = check.attempts.back();
            // Ended without a word and without a stop: nothing answered it.
            if (!last.diagnosis && check.not_checked.empty()) {
                last.diagnosis = EcuDiagnosis::silent;
            }
            if (!check.not_checked.empty() || !worth_another_wake_up(last.diagnosis)) {
                break;
            }
            // In auto, a garbled sync byte names the ECU's rate: woken again there.
            if (!request.protocol && last.diagnosis == EcuDiagnosis::other_rate &&
                last.suggested_rate && !retried && protocol != EcuProtocol::kwp_fast) {
                retried = wire.set_rate(*last.suggested_rate);
                if (retried) {
                    --i;
                }
            }
        }
    }
    if (wire.rate() != KLINE_RATE) {
        (void)wire.set_rate(KLINE_RATE);
    }
    if (line) {
        // The close puts the line the port was opened with back, and says when it cannot.
        (void)restore_line(descriptor, *line);
    }
    return check;
}
