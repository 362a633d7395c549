#include "check/ecu/kwp_session.h"

#include "check/common/byte_text.h"
#include "check/ecu/five_baud_address.h"

namespace {

using std::chrono::milliseconds;

// Between two bytes of one answer (P1max 20 ms), with the adapter's and a
// slow machine's delays on top.
constexpr milliseconds BETWEEN_BYTES{20 + 200};
// A pending answer may take up to P2max extended (5 s); a few are waited for.
constexpr milliseconds PENDING_WAIT{5000};
constexpr int MOST_PENDING = 3;
constexpr int MOST_REPEATS = 2;
constexpr unsigned char KWP_KB2 = 0x8F;
constexpr unsigned char STOP_COMMUNICATION = 0x82;

// One frame's bytes, the first by first_by.
std::optional<KwpFrame> read_frame(Handshake& handshake, EcuStep& step, Deadline first_by,
                                   std::optional<WireByte>& first) {
    std::string bytes;
    Deadline by = first_by;
    for (;;) {
        const std::optional<WireByte> byte = handshake.receive(step, by);
        if (!byte) {
            if (!handshake.cut()) {
                handshake.fail(EcuDiagnosis::silent,
                               bytes.empty() ? "no answer to " + hex_bytes(step.sent) + " within P2"
                                             : "the answer stopped after " + hex_bytes(bytes));
            }
            return std::nullopt;
        }
        if (!first) {
            first = byte;
        }
        if (byte->garbled) {
            handshake.fail(
                EcuDiagnosis::other_rate,
                "the answer arrived garbled (framing errors): the ECU talks at another rate");
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(byte->value));
        const KwpFrame frame = parse_kwp_frame(bytes);
        if (frame.state == FrameState::complete) {
            return frame;
        }
        if (frame.state != FrameState::incomplete) {
            handshake.fail(EcuDiagnosis::broken,
                           "the answer " + hex_bytes(bytes) +
                               (frame.state == FrameState::bad_checksum ? " has a wrong checksum"
                                                                        : " is no KWP2000 frame"));
            return std::nullopt;
        }
        by = Deadline::after(BETWEEN_BYTES + handshake.wire.uncertainty());
    }
}

} // namespace

std::optional<KwpFrame> kwp_exchange(Handshake& handshake, EcuStep& step,
                                     const std::string& request, WireSend* sent) {
    int pending = 0;
    for (int repeats = 0;; ++repeats) {
        step.received.clear();
        const std::optional<WireSend> written = handshake.send(step, request);
        if (!written) {
            return std::nullopt;
        }
        if (sent != nullptr) {
            *sent = *written;
        }
        std::optional<WireByte> first;
        std::optional<KwpFrame> frame =
            read_frame(handshake, step, handshake.answer_by(written->end.latest, P2), first);
        if (first) {
            step.timing =
                step_timing(P2, written->end, byte_start(*first, handshake.wire.byte_time()),
                            handshake.wire.uncertainty());
        }
        std::optional<NegativeAnswer> refusal = frame ? negative_answer(frame->data) : std::nullopt;
        while (refusal && refusal->code == RESPONSE_PENDING && pending++ < MOST_PENDING) {
            std::optional<WireByte> later;
            frame = read_frame(handshake, step, Deadline::after(PENDING_WAIT), later);
            refusal = frame ? negative_answer(frame->data) : std::nullopt;
        }
        if (!refusal || refusal->code != BUSY_REPEAT_REQUEST || repeats >= MOST_REPEATS ||
            !wait_quiet(handshake.wire, BEFORE_REQUEST)) {
            step.ok = frame.has_value() && !refusal;
            return frame;
        }
    }
}

std::string KwpTarget::request(std::string_view data) const {
    return kwp_request(header_form(kb1), address, address == 0x33, data);
}

bool prove_kwp_session(Handshake& handshake, const KwpTarget& target) {
    if (!wait_quiet(handshake.wire, BEFORE_REQUEST)) {
        if (!handshake.cut()) {
            handshake.fail(EcuDiagnosis::busy, NEVER_QUIET);
        }
        return false;
    }
    EcuStep& step = handshake.add_step("mode 01 PID 00");
    const std::optional<KwpFrame> answer =
        kwp_exchange(handshake, step, target.request(std::string("\x01\x00", 2)));
    if (!answer) {
        if (handshake.attempt.diagnosis == EcuDiagnosis::silent) {
            handshake.attempt.detail = "the ECU woke but did not answer mode 01 PID 00 within P2";
        }
        return false;
    }
    handshake.attempt.session_held = true;
    handshake.attempt.diagnosis = EcuDiagnosis::answered;
    if (const std::optional<NegativeAnswer> refusal = negative_answer(answer->data)) {
        handshake.attempt.detail = "mode 01 PID 00 refused (" + refusal_text(*refusal) +
                                   "), in KWP2000 framing with a right checksum";
    }
    return true;
}

void end_kwp_session(Handshake& handshake, const KwpTarget& target) {
    if (handshake.attempt.ended || handshake.wire.gone()) {
        handshake.attempt.ended = true;
        return;
    }
    handshake.wire.set_ending(true);
    (void)wait_quiet(handshake.wire, BEFORE_REQUEST);
    EcuStep& step = handshake.add_step("StopCommunication");
    const EcuAttempt kept = handshake.attempt;
    const std::optional<KwpFrame> answer = kwp_exchange(
        handshake, step, target.request(std::string(1, static_cast<char>(STOP_COMMUNICATION))));
    // The session's verdict is the proving request's; the end only adds its step.
    const bool ok = answer && !answer->data.empty() &&
                    static_cast<unsigned char>(answer->data[0]) == (STOP_COMMUNICATION | 0x40);
    step.ok = ok;
    handshake.attempt.diagnosis = kept.diagnosis;
    handshake.attempt.detail = kept.detail;
    handshake.attempt.ended = true;
    handshake.wire.set_ending(false);
}

bool kwp_key_bytes(unsigned char kb1, unsigned char kb2) {
    return kb2 == KWP_KB2 && odd_parity(kb1) && odd_parity(kb2);
}
