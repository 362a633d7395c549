#include "check/ecu/fast_init.h"

#include "check/common/byte_text.h"
#include "check/ecu/kwp_session.h"
#include "check/port/interruption.h"
#include "serial/line_break.h"
#include "serial/line_rate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds WAKE_LOW{25};
constexpr milliseconds WAKE_HIGH{25};
// A raise slower than twice this is no guide to where the clear will land.
constexpr milliseconds MOST_CENTRING{5};
constexpr unsigned char START_COMMUNICATION = 0x81;
constexpr unsigned char START_COMMUNICATION_ANSWER = 0xC1;

bool wait_until(Clock::time_point then) {
    return poll_until({}, Deadline(then), interruption_stop_request()) != WaitEnd::stopped;
}

LineMoment moment_of(const LineCall& call) {
    return {call.called, call.returned};
}

// A driver that refuses the break: the low phase as one zero byte at 360
// baud, whose start bit and eight data bits hold the line low 25 ms by the
// chip's own clock; its stop bit begins the high phase.
bool wake_up_by_zero_byte(Handshake& handshake, LineCall& raise, const std::string& why) {
    KlineWire& wire = handshake.wire;
    const int rate = wire.rate();
    EcuStep& step = handshake.add_step("fast-init wake-up by a zero byte at 360 baud");
    if (!wire.set_rate(FALLBACK_INIT_RATE)) {
        return handshake.fail(EcuDiagnosis::no_wake_up, why + ", and 360 baud was refused");
    }
    const std::optional<int> runs = line_rate(wire.descriptor());
    const std::optional<WireSend> sent = handshake.send(step, std::string(1, '\0'));
    if (!wire.set_rate(rate)) {
        return handshake.fail(EcuDiagnosis::no_wake_up,
                              "the driver did not go back to " + std::to_string(rate) + " baud");
    }
    if (!sent) {
        return false;
    }
    raise = {sent->start.earliest, sent->start.latest};
    // The chip's clock times the low phase: nine bits at the rate it runs.
    const LineSpan low = wire_time(runs.value_or(FALLBACK_INIT_RATE), 1) * 9 / 10;
    StepTiming& timing = step.timing.emplace();
    timing.name = TINIL.name;
    timing.at_least = timing.at_most = low;
    timing.window_from = TINIL.from;
    timing.window_to = TINIL.to;
    timing.judged = judge_span(low, low, TINIL, LineSpan::zero());
    step.ok = timing.judged != Readiness::no;
    (void)wire.drop_until(sent->start.earliest + WAKE_LOW + WAKE_HIGH);
    return !handshake.cut();
}

// The low phase and the high phase; false when the driver refused the break
// and 360 baud, or a stop came, the line high again either way.
bool wake_up(Handshake& handshake, LineCall& raise) {
    const int descriptor = handshake.wire.descriptor();
    raise.called = Clock::now();
    if (!raise_break(descriptor)) {
        const int error = errno;
        (void)clear_break(descriptor);
        handshake.check.break_trouble =
            std::string("the driver refused the break: ") + std::strerror(error);
        return wake_up_by_zero_byte(handshake, raise, *handshake.check.break_trouble);
    }
    EcuStep& step = handshake.add_step("fast-init wake-up");
    raise.returned = Clock::now();
    // Timed from the raise's return, where the line went low at the latest
    // (timed from its call, a slow raise leaves a low the ECU takes for
    // none), with the clear's call centred there: a clear that takes as long
    // as the raise reaches the line within half of it either way of TiniL.
    const auto half_raise = std::min<LineSpan>((raise.returned - raise.called) / 2, MOST_CENTRING);
    const bool waited = wait_until(raise.returned + WAKE_LOW - half_raise);
    LineCall clear{Clock::now(), {}};
    const bool cleared = clear_break(descriptor);
    clear.returned = Clock::now();
    if (!waited) {
        return false;
    }
    if (!cleared) {
        return handshake.fail(EcuDiagnosis::no_wake_up, "the driver did not end the break");
    }
    step.timing =
        step_timing(TINIL, moment_of(raise), moment_of(clear), handshake.wire.uncertainty());
    step.ok = true;
    handshake.check.break_trouble = break_trouble_of(clear);
    if (!handshake.check.break_trouble->empty()) {
        // The driver held the clear back for a slow zero byte of its own: the
        // line was low far too long for a fast init, long enough for the
        // start bit of a 5-baud address, which an ECU then reads for ten bit
        // times. Once that frame is over and the bus was idle after it (what
        // the break brought back dropped), a zero byte at 360 baud is the
        // wake-up.
        step.ok = false;
        (void)handshake.wire.drop_until(raise.called + SLOW_INIT_SLOTS * SLOW_INIT_BIT + BUS_IDLE);
        return !handshake.cut() &&
               wake_up_by_zero_byte(handshake, raise, *handshake.check.break_trouble);
    }
    // A looped line brings the break back as a zero byte: no part of the echo.
    if (handshake.wire.drop_until(clear.returned + WAKE_HIGH)) {
        handshake.check.echo_seen = true;
    }
    return !handshake.cut();
}

} // namespace

void fast_init_attempt(Handshake& handshake) {
    EcuAttempt& attempt = handshake.attempt;
    if (!wait_quiet(handshake.wire, BUS_IDLE)) {
        if (!handshake.cut()) {
            handshake.fail(EcuDiagnosis::busy, "the bus did not fall quiet for 300 ms");
        }
        return;
    }
    LineCall raise{};
    if (!wake_up(handshake, raise)) {
        return;
    }
    const KwpTarget target{attempt.address, std::nullopt};
    EcuStep& start = handshake.add_step("StartCommunication");
    WireSend sent;
    const std::optional<KwpFrame> answer =
        kwp_exchange(handshake, start,
                     target.request(std::string(1, static_cast<char>(START_COMMUNICATION))), &sent);
    if (sent.written) {
        EcuStep pattern;
        pattern.what = "wake-up pattern";
        pattern.timing =
            step_timing(TWUP, moment_of(raise), sent.start, handshake.wire.uncertainty());
        pattern.ok = pattern.timing->judged != Readiness::no;
        attempt.steps.insert(attempt.steps.end() - 1, pattern);
    }
    if (!answer) {
        // Cut while the ECU may be answering: its session may have begun.
        if (sent.written && handshake.cut()) {
            attempt.ended = false;
            end_kwp_session(handshake, target);
        }
        return;
    }
    if (const std::optional<NegativeAnswer> refusal = negative_answer(answer->data)) {
        handshake.fail(EcuDiagnosis::refused, refusal_text(*refusal));
        return;
    }
    const std::string& data = answer->data;
    if (data.size() < 3 || static_cast<unsigned char>(data[0]) != START_COMMUNICATION_ANSWER) {
        handshake.fail(EcuDiagnosis::broken, "StartCommunication answered with " + hex_bytes(data));
        return;
    }
    const auto kb1 = static_cast<unsigned char>(data[1]);
    const auto kb2 = static_cast<unsigned char>(data[2]);
    attempt.key_bytes = data.substr(1, 2);
    attempt.ended = false;
    attempt.ecu_rate = handshake.wire.rate();
    KwpTarget session = target;
    session.kb1 = kb1;
    if (!kwp_key_bytes(kb1, kb2)) {
        handshake.fail(EcuDiagnosis::broken,
                       "key bytes " + hex_bytes(*attempt.key_bytes) + " are no KWP2000 key bytes");
    } else {
        (void)prove_kwp_session(handshake, session);
    }
    end_kwp_session(handshake, session);
}
