#include "check/ecu/handshake.h"

#include "check/common/byte_text.h"
#include "check/common/time_text.h"
#include "check/port/interruption.h"
#include "serial/line_break.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds SLACK{200};
// A bus that never falls quiet for a wake-up is another tester's.
constexpr milliseconds QUIET_LIMIT{3000};

} // namespace

EcuStep& Handshake::add_step(std::string what, std::string sent) {
    EcuStep& step = attempt.steps.emplace_back();
    step.what = std::move(what);
    step.sent = std::move(sent);
    return step;
}

bool Handshake::fail(EcuDiagnosis diagnosis, std::string detail) {
    attempt.diagnosis = diagnosis;
    attempt.detail = std::move(detail);
    return false;
}

std::optional<WireSend> Handshake::send(EcuStep& step, const std::string& bytes) {
    return echo_checked(step, bytes, wire.send(bytes));
}

std::optional<WireSend> Handshake::echo_checked(EcuStep& step, const std::string& bytes,
                                                const WireSend& sent) {
    step.sent = bytes;
    if (sent.echoed) {
        check.echo_seen = true;
        return sent;
    }
    if (cut()) {
        return std::nullopt;
    }
    step.received += sent.echo;
    if (sent.echo_low) {
        fail(EcuDiagnosis::held_low, "zero bytes came back in place of " + hex_bytes(bytes));
    } else if (!sent.echo.empty()) {
        fail(EcuDiagnosis::busy,
             hex_bytes(sent.echo) + " came back in place of " + hex_bytes(bytes));
    } else if (!sent.written) {
        fail(EcuDiagnosis::no_echo, "the adapter did not take " + hex_bytes(bytes));
    } else {
        fail(EcuDiagnosis::no_echo, hex_bytes(bytes) + " did not come back");
    }
    return std::nullopt;
}

Deadline Handshake::answer_by(std::chrono::steady_clock::time_point after,
                              const StepWindow& window) const {
    return Deadline(after + window.to + wire.uncertainty() + wire.byte_time() + SLACK);
}

std::optional<WireByte> Handshake::receive(EcuStep& step, Deadline by) {
    std::optional<WireByte> byte = wire.next(by);
    if (byte) {
        step.received.push_back(static_cast<char>(byte->value));
    }
    return byte;
}

bool wait_quiet(KlineWire& wire, std::chrono::steady_clock::duration span) {
    const Deadline limit = Deadline::after(QUIET_LIMIT);
    while (!wire.cut()) {
        if (std::chrono::steady_clock::now() - wire.last_heard() >= span) {
            return true;
        }
        if (limit.passed()) {
            return false;
        }
        (void)wire.next(Deadline(std::min(wire.last_heard() + span, limit.at())));
    }
    return false;
}

std::string break_trouble_of(const LineCall& clear) {
    const LineSpan took = clear.returned - clear.called;
    return took >= SIMULATED_BREAK_WAIT
               ? "the driver simulated the break: its clear took " + milliseconds_text(took)
               : std::string();
}

bool driver_breaks(Handshake& handshake) {
    std::optional<std::string>& trouble = handshake.check.break_trouble;
    if (!trouble) {
        const int descriptor = handshake.wire.descriptor();
        if (!raise_break(descriptor)) {
            trouble = std::string("the driver refused the break: ") + std::strerror(errno);
            (void)clear_break(descriptor);
        } else {
            (void)poll_until({}, Deadline::after(FAST_INIT_LOW), interruption_stop_request());
            LineCall clear{std::chrono::steady_clock::now(), {}};
            const bool cleared = clear_break(descriptor);
            clear.returned = std::chrono::steady_clock::now();
            trouble = cleared ? break_trouble_of(clear) : "the driver did not end the break";
            (void)handshake.wire.drop_until(clear.returned + BUS_IDLE);
        }
    }
    return trouble->empty() || handshake.fail(EcuDiagnosis::no_wake_up, *trouble);
}
