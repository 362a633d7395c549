// What every wake-up handshake does the same way: steps recorded as they go,
// bytes sent with their echo checked, the ECU's answer waited for within its
// window and a margin, a failure said once with what it rests on, and the
// quiet the standards ask for before a wake-up or a request.
#pragma once

#include "check/ecu/kline_wire.h"

#include <chrono>
#include <optional>
#include <string>

struct Handshake {
    KlineWire& wire;
    EcuCheck& check;
    EcuAttempt& attempt;
    // A pseudo-terminal carries no break, so a wake-up's breaks never come back.
    bool pseudo_terminal = false;

    // A new step of the attempt; the reference lasts until the next.
    EcuStep& add_step(std::string what, std::string sent = {});
    // The attempt ends with this diagnosis; false, for the caller to return.
    bool fail(EcuDiagnosis diagnosis, std::string detail);
    // Sends the step's bytes and checks their echo: none came back (no_echo),
    // zero bytes or breaks did (held_low), other bytes did (busy). None then.
    std::optional<WireSend> send(EcuStep& step, const std::string& bytes);
    // The same judgement of a send already made; what came back in the
    // echo's place is kept as the step's received bytes.
    std::optional<WireSend> echo_checked(EcuStep& step, const std::string& bytes,
                                         const WireSend& sent);
    // By when the ECU's byte must have come, its change after the one that
    // ends at after: the window's end, what the adapter may hold back, and
    // room for a slow machine.
    Deadline answer_by(std::chrono::steady_clock::time_point after, const StepWindow& window) const;
    // The next byte by then; a missing one is the step's failure, said by
    // the caller.
    std::optional<WireByte> receive(EcuStep& step, Deadline by);
    // A stop was asked for or the port went away: the attempt ends without a
    // diagnosis of the car.
    bool cut() const { return wire.cut(); }
};

// The bus idle before a wake-up (W5, TIdle): at least 300 ms, waited with a
// margin for a clock that counts from the last byte's end on the wire.
inline constexpr std::chrono::milliseconds BUS_IDLE{320};
// Between an answer and the next request (P3min, 55 ms), with a margin.
inline constexpr std::chrono::milliseconds BEFORE_REQUEST{60};
// Why a woken ECU got no request: the line never fell quiet for one.
inline constexpr const char* NEVER_QUIET =
    "the bus never fell quiet for a request after the wake-up: another tester or ECU talks";

// What a break's clear says of the driver: a clear held back for a slow zero
// byte of the driver's own shows a simulated break, far too long for any
// wake-up; empty for a real one.
std::string break_trouble_of(const LineCall& clear);

// Whether the driver's break can make a 5-baud wake-up, found once per check:
// by the fast init's break, or else by a short break of fast init's length,
// after which the bus idles again (an ECU takes it for a fast-init wake-up
// that no request follows). When it cannot, the attempt fails (no_wake_up)
// before anything more goes onto the bus.
bool driver_breaks(Handshake& handshake);

// Reads what comes until the line was quiet for span (other ECUs' answers);
// false when it never was within a few seconds, or a stop came.
bool wait_quiet(KlineWire& wire, std::chrono::steady_clock::duration span);

// The sending of an inverted byte: aimed inside W4 after the byte it answers,
// counted from when that byte can have ended at the latest.
inline constexpr std::chrono::milliseconds W4_AIM{30};
