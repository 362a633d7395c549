#include "check/ecu/slow_init_session.h"

#include "check/common/byte_text.h"
#include "check/common/time_text.h"
#include "check/ecu/five_baud_address.h"
#include "check/ecu/kwp_frames.h"
#include "check/ecu/kwp_session.h"
#include "check/ecu/sync_rate.h"
#include "check/port/interruption.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned char SYNC = 0x55;
constexpr milliseconds BETWEEN_BYTES{20 + 200};
// ISO 9141-2's mode 01 PID 00 and its answer's header.
constexpr char ISO_REQUEST[] = "\x68\x6A\xF1\x01\x00\xC4";
constexpr unsigned char ISO_ANSWER_HEADER[] = {0x48, 0x6B};
constexpr std::size_t ISO_POSITIVE_SIZE = 10;
constexpr std::size_t ISO_NEGATIVE_SIZE = 7;

std::string hex_byte(unsigned char byte) {
    return hex_bytes(std::string(1, static_cast<char>(byte)));
}

// A garbled sync byte: the rate it suggests, or the adapter's own rate when
// that is what the ECU talks and the adapter runs another.
bool garbled_sync(Handshake& handshake, const WireByte& sync) {
    EcuAttempt& attempt = handshake.attempt;
    const int line = handshake.check.rate.read_back.value_or(handshake.wire.rate());
    attempt.suggested_rate = rate_from_sync(sync.value, sync.garbled, line);
    std::string detail = "the sync byte 55 came as " + hex_byte(sync.value) +
                         (sync.garbled ? " with a framing error" : "");
    const RateCheck& rate = handshake.check.rate;
    if (attempt.suggested_rate && !rate.within_tolerance &&
        std::abs(*attempt.suggested_rate - rate.asked) <= RATE_TOLERANCE * rate.asked) {
        return handshake.fail(EcuDiagnosis::adapter_rate,
                              detail + ": the ECU talks at " + std::to_string(rate.asked) +
                                  " baud, the adapter runs " + std::to_string(line));
    }
    if (attempt.suggested_rate) {
        detail += ": the ECU talks at about " + std::to_string(*attempt.suggested_rate) + " baud";
    }
    return handshake.fail(EcuDiagnosis::other_rate, detail);
}

bool key_byte(Handshake& handshake, const char* what, const WireByte& after,
              const StepWindow& window, std::optional<WireByte>& byte) {
    EcuStep& step = handshake.add_step(what);
    byte = handshake.receive(step, handshake.answer_by(after.end.latest, window));
    if (!byte) {
        return handshake.cut() ? false
                               : handshake.fail(EcuDiagnosis::broken,
                                                "the ECU sent its sync byte but no key bytes");
    }
    step.timing = step_timing(window, after.end, byte_start(*byte, handshake.wire.byte_time()),
                              handshake.wire.uncertainty());
    if (byte->garbled) {
        return handshake.fail(EcuDiagnosis::other_rate, std::string(what) + " arrived garbled");
    }
    step.ok = true;
    return true;
}

// After our inverted KB2, the ECU's inverted address; the ECU that sends its
// sync byte again, or nothing, when ours was off its window, says late.
bool inverted_address(Handshake& handshake, const WireSend& inverted, const StepTiming& ours) {
    EcuStep& step = handshake.add_step("inverted address");
    const std::optional<WireByte> byte =
        handshake.receive(step, handshake.answer_by(inverted.end.latest, W4));
    const auto expected = static_cast<unsigned char>(~handshake.attempt.address);
    if (byte && byte->value == expected && !byte->garbled) {
        step.timing = step_timing(W4, inverted.end, byte_start(*byte, handshake.wire.byte_time()),
                                  handshake.wire.uncertainty());
        step.ok = true;
        return true;
    }
    if (handshake.cut()) {
        return false;
    }
    if (byte && byte->value == SYNC) {
        return handshake.fail(
            EcuDiagnosis::late,
            "the ECU sent its sync byte again: our inverted key byte went out at " +
                timing_text(ours));
    }
    if (!byte && ours.judged != Readiness::yes) {
        return handshake.fail(EcuDiagnosis::late,
                              "the ECU went quiet: our inverted key byte went out at " +
                                  timing_text(ours));
    }
    return handshake.fail(EcuDiagnosis::broken,
                          byte ? "the ECU sent " + hex_byte(byte->value) +
                                     " in place of the inverted address " + hex_byte(expected)
                               : "the ECU did not send the inverted address " + hex_byte(expected));
}

// The ECU gave up waiting for our inverted byte and began again before it
// reached the line: on one wire its sync byte came back ahead of our echo,
// so ours went out after that byte began. Our echo, if it follows the ECU's
// bytes, bounds it from above.
void overtaken_by_sync(Handshake& handshake, EcuStep& step, const WireByte& answered,
                       const std::string& inverse, const WireSend& sent) {
    step.sent = inverse;
    step.received = sent.echo;
    LineMoment ours{std::max(sent.start.earliest, sent.first_back->earliest), {}};
    const Deadline echo_by = handshake.answer_by(sent.first_back->latest, W4);
    std::optional<WireByte> echo;
    while ((echo = handshake.wire.next(echo_by)) &&
           echo->value != static_cast<unsigned char>(inverse[0])) {
        step.received.push_back(static_cast<char>(echo->value));
    }
    ours.latest = echo ? byte_start(*echo, handshake.wire.byte_time()).latest : Clock::now();
    step.timing = step_timing(W4, answered.end, ours, handshake.wire.uncertainty());
    const std::string when = echo ? "ours went out at " + timing_text(*step.timing)
                                  : "ours went out at least " +
                                        milliseconds_text(step.timing->at_least) +
                                        " after the key byte (" + W4.name + " ends at " +
                                        milliseconds_text(W4.to) + ") and had not come back " +
                                        milliseconds_text(step.timing->at_most) + " after it";
    handshake.fail(EcuDiagnosis::late,
                   "the ECU sent its sync byte again before our inverted key byte came back: " +
                       when);
}

// Mode 01 PID 00 in ISO 9141-2's framing; its answer's length by its fourth
// byte: 41 (ten bytes) or 7F (seven).
void prove_iso9141(Handshake& handshake) {
    if (!wait_quiet(handshake.wire, BEFORE_REQUEST)) {
        if (!handshake.cut()) {
            handshake.fail(EcuDiagnosis::busy, NEVER_QUIET);
        }
        return;
    }
    EcuStep& step = handshake.add_step("mode 01 PID 00");
    const std::optional<WireSend> sent = handshake.send(step, std::string(ISO_REQUEST, 6));
    if (!sent) {
        return;
    }
    Deadline by = handshake.answer_by(sent->end.latest, P2);
    std::string answer;
    std::size_t size = ISO_POSITIVE_SIZE;
    while (answer.size() < size) {
        const std::optional<WireByte> byte = handshake.receive(step, by);
        if (!byte) {
            if (!handshake.cut()) {
                handshake.fail(EcuDiagnosis::silent,
                               answer.empty()
                                   ? "the ECU woke but did not answer mode 01 PID 00 within P2"
                                   : "the answer stopped after " + hex_bytes(answer));
            }
            return;
        }
        if (answer.empty()) {
            step.timing = step_timing(P2, sent->end, byte_start(*byte, handshake.wire.byte_time()),
                                      handshake.wire.uncertainty());
        }
        if (byte->garbled) {
            handshake.fail(EcuDiagnosis::other_rate, "the answer arrived garbled (framing errors)");
            return;
        }
        answer.push_back(static_cast<char>(byte->value));
        if (answer.size() == 4 && byte->value == 0x7F) {
            size = ISO_NEGATIVE_SIZE;
        }
        by = Deadline::after(BETWEEN_BYTES + handshake.wire.uncertainty());
    }
    const bool header = static_cast<unsigned char>(answer[0]) == ISO_ANSWER_HEADER[0] &&
                        static_cast<unsigned char>(answer[1]) == ISO_ANSWER_HEADER[1];
    if (!header || checksum(std::string_view(answer).substr(0, size - 1)) !=
                       static_cast<unsigned char>(answer[size - 1])) {
        handshake.fail(EcuDiagnosis::broken,
                       "the answer " + hex_bytes(answer) +
                           (header ? " has a wrong checksum" : " is no ISO 9141-2 answer"));
        return;
    }
    step.ok = size == ISO_POSITIVE_SIZE;
    handshake.attempt.session_held = true;
    handshake.attempt.diagnosis = EcuDiagnosis::answered;
    if (const std::optional<NegativeAnswer> refusal = negative_answer(answer.substr(3))) {
        handshake.attempt.detail = "mode 01 PID 00 refused (" + refusal_text(*refusal) + ")";
    }
}

} // namespace

std::optional<FiveBaudWake> wake_by_five_baud(Handshake& handshake, unsigned char byte) {
    if (!wait_quiet(handshake.wire, BUS_IDLE)) {
        if (!handshake.cut()) {
            handshake.fail(EcuDiagnosis::busy, "the bus did not fall quiet for 300 ms");
        }
        return std::nullopt;
    }
    if (!driver_breaks(handshake) || handshake.cut()) {
        return std::nullopt;
    }
    char what[32];
    std::snprintf(what, sizeof what, "5-baud address 0x%02X", byte);
    EcuStep& address = handshake.add_step(what, std::string(1, static_cast<char>(byte)));
    const FiveBaudSending sending =
        send_five_baud(handshake.wire.descriptor(), byte, handshake.wire.uncertainty());
    address.ok = sending.sent;
    if (!sending.sent) {
        if (sending.error != 0) {
            handshake.fail(EcuDiagnosis::no_wake_up, std::string("the driver refused the break: ") +
                                                         std::strerror(sending.error));
        }
        return std::nullopt;
    }
    address.timing = sending.bits;
    // The breaks come back as zero bytes on a looped line: the echo of the address.
    if (handshake.wire.drop_until(sending.end.latest)) {
        handshake.check.echo_seen = true;
    }
    EcuStep& sync_step = handshake.add_step("sync byte");
    const std::optional<WireByte> sync =
        handshake.receive(sync_step, handshake.answer_by(sending.end.latest, W1));
    if (!sync) {
        if (!handshake.cut()) {
            const bool no_echo = !handshake.check.echo_seen && !handshake.pseudo_terminal;
            handshake.fail(no_echo ? EcuDiagnosis::no_echo : EcuDiagnosis::silent,
                           no_echo ? "the address's breaks did not come back, and nothing answered"
                                   : "no sync byte within W1");
        }
        return std::nullopt;
    }
    sync_step.timing = step_timing(W1, sending.end, byte_start(*sync, handshake.wire.byte_time()),
                                   handshake.wire.uncertainty());
    if (sync->garbled || sync->value != SYNC) {
        garbled_sync(handshake, *sync);
        return std::nullopt;
    }
    sync_step.ok = true;
    std::optional<WireByte> kb1;
    std::optional<WireByte> kb2;
    if (!key_byte(handshake, "key byte 1", *sync, W2, kb1) ||
        !key_byte(handshake, "key byte 2", *kb1, W3, kb2)) {
        return std::nullopt;
    }
    handshake.attempt.key_bytes =
        std::string{static_cast<char>(kb1->value), static_cast<char>(kb2->value)};
    handshake.attempt.ecu_rate = handshake.wire.rate();
    return FiveBaudWake{kb1->value, *kb2};
}

std::optional<WireSend> send_inverted(Handshake& handshake, EcuStep& step,
                                      const WireByte& answered) {
    if (poll_until({}, Deadline(answered.end.latest + W4_AIM), interruption_stop_request()) ==
        WaitEnd::stopped) {
        return std::nullopt;
    }
    const std::string inverse(1, static_cast<char>(~answered.value));
    const WireSend sent = handshake.wire.send(inverse);
    if (!sent.echoed && sent.first_back && static_cast<unsigned char>(sent.echo[0]) == SYNC &&
        !handshake.cut()) {
        overtaken_by_sync(handshake, step, answered, inverse, sent);
        return std::nullopt;
    }
    const std::optional<WireSend> checked = handshake.echo_checked(step, inverse, sent);
    if (checked) {
        step.timing = step_timing(W4, answered.end, sent.start, handshake.wire.uncertainty());
        step.ok = step.timing->judged != Readiness::no;
    }
    return checked;
}

void slow_init_attempt(Handshake& handshake) {
    EcuAttempt& attempt = handshake.attempt;
    const std::optional<FiveBaudWake> wake =
        wake_by_five_baud(handshake, static_cast<unsigned char>(attempt.address));
    if (!wake) {
        return;
    }
    const unsigned char kb2 = wake->kb2.value;
    const bool iso = wake->kb1 == kb2 && (kb2 == 0x08 || kb2 == 0x94);
    const bool kwp = kwp_key_bytes(wake->kb1, kb2);
    if (!iso && !kwp) {
        handshake.fail(EcuDiagnosis::broken, "key bytes " + hex_bytes(*attempt.key_bytes) +
                                                 " are neither ISO 9141-2's (08 08, 94 94) nor "
                                                 "KWP2000's (KB2 8F, odd parity)");
        return;
    }
    attempt.protocol = kwp ? EcuProtocol::kwp_slow : EcuProtocol::iso9141;
    EcuStep& step = handshake.add_step("inverted key byte 2");
    const std::optional<WireSend> inverted = send_inverted(handshake, step, wake->kb2);
    if (!inverted) {
        return;
    }
    const StepTiming ours = *step.timing;
    if (!inverted_address(handshake, *inverted, ours)) {
        return;
    }
    if (iso) {
        // An ISO 9141-2 session has no end of its own: the ECU ends it after
        // P3max without a request.
        prove_iso9141(handshake);
        return;
    }
    attempt.ended = false;
    const KwpTarget target{attempt.address, wake->kb1};
    (void)prove_kwp_session(handshake, target);
    end_kwp_session(handshake, target);
}
