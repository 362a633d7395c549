// Whether a car's ECU answers through the adapter: the K-line wake-up
// handshakes (ISO 9141-2 and KWP2000 slow init at 5 baud, KWP2000 fast init,
// VAG's KW1281), each step's bytes and timing against the standard's window,
// and, when the car stays silent, why. Only requests that read are ever sent,
// and every session is ended before the port is let go.
#pragma once

#include "check/line/kline_readiness.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

enum class EcuProtocol { iso9141, kwp_slow, kwp_fast, kw1281 };

// "iso9141", "kwp-slow", "kwp-fast", "kw1281": the words --ecu takes and the
// JSON writes.
const char* protocol_word(EcuProtocol protocol);
// The protocol a word names; none for any other word.
std::optional<EcuProtocol> protocol_named(const std::string& word);
// The ECU address a protocol wakes when none is given: 0x33 for the OBD
// protocols, 0x01 for KW1281.
int default_address(EcuProtocol protocol);

// What was asked on the command line.
struct EcuRequest {
    // None: auto, fast init first, then the 5-baud wake-up at 0x33.
    std::optional<EcuProtocol> protocol;
    // None: the protocol's default_address.
    std::optional<int> address;
};

// Why a car answers or stays silent: one word in JSON, one sentence and a fix
// in text, beside it in one switch the compiler checks.
enum class EcuDiagnosis {
    answered,     // the ECU woke and the session held
    no_echo,      // our own bytes do not come back: no +12 V or no K-line
    held_low,     // the bus is held low before or while we send
    busy,         // the bus carries traffic before we start: another tester
    silent,       // the echo is fine, nothing answers within W1 or P2
    other_rate,   // the sync byte or the answer arrives garbled
    adapter_rate, // the adapter cannot run the ECU's rate
    refused,      // a negative answer
    late,         // the ECU answered, our reply went out of its window
    no_wake_up,   // the adapter cannot make the wake-up (a refused or slow break)
    broken,       // the ECU's answer is malformed (a checksum, a key byte)
};

struct EcuDiagnosisMeaning {
    // The JSON's word: "answered", "no-echo", "held-low", "busy", "silent",
    // "other-rate", "adapter-rate", "refused", "late", "no-wake-up", "broken".
    const char* word;
    // What the text says, one sentence.
    const char* sentence;
    // What to do; empty for answered.
    const char* fix;
    // The exit status of check/common/exit_status.h.
    int exit_status;
};

EcuDiagnosisMeaning meaning_of(EcuDiagnosis diagnosis);

// One timing of a handshake (W1 to W4, P2, TiniL, TWuP, the idle before a
// wake-up): the bounds within which the line's change must lie, as the
// system calls around it allow us to know, against the standard's window.
struct StepTiming {
    std::string name; // "W1", "P2", "TiniL", ...
    LineSpan at_least{};
    LineSpan at_most{};
    LineSpan window_from{};
    LineSpan window_to{};
    // yes: the bounds lie inside the window; no: outside it; cannot tell:
    // they straddle it, or the window is narrower than what the adapter can
    // show (its latency timer, its USB transfers).
    Readiness judged = Readiness::cannot_tell;
};

// One step of a handshake: what we sent, what the ECU sent back (our own
// echo taken off), and its timing.
struct EcuStep {
    std::string what;     // "5-baud address 0x33", "sync byte", "key bytes", ...
    std::string sent;     // raw bytes
    std::string received; // raw bytes, the echo of ours removed
    std::optional<StepTiming> timing;
    bool ok = false;
};

// One wake-up tried with one protocol at one address.
struct EcuAttempt {
    EcuProtocol protocol = EcuProtocol::kwp_fast;
    int address = 0x33;
    std::vector<EcuStep> steps;
    // None when a stop or the port's going cut the attempt before it reached
    // a diagnosis: then it says nothing of the car.
    std::optional<EcuDiagnosis> diagnosis;
    // What the diagnosis rests on, for the text: the negative answer's code
    // and name, the rate the sync byte suggests, the measured bounds.
    std::string detail;
    // The key bytes as received (two raw bytes); none before they came.
    std::optional<std::string> key_bytes;
    // other_rate: the rate the garbled sync byte suggests.
    std::optional<int> suggested_rate;
    // The rate the ECU talks at, once known.
    std::optional<int> ecu_rate;
    // The proving request was answered, its checksum right.
    bool session_held = false;
    // The session was ended (StopCommunication, the end block) or never began.
    bool ended = true;
};

// The whole check of one port.
struct EcuCheck {
    EcuRequest request;
    // Why no wake-up was tried: the port did not open, a stop was asked
    // for; empty when one was.
    std::string not_checked;
    // Auto tries several; the last one decides unless one answered.
    std::vector<EcuAttempt> attempts;
    // The adapter's own echo of the handshake's bytes: whether every byte we
    // sent came back as sent.
    bool echo_seen = false;
    // The rate asked of the driver for the handshake and the one read back.
    RateCheck rate;
    // Why the driver's break cannot make a wake-up (it refused or simulated
    // it); empty when it can, none until a break was tried.
    std::optional<std::string> break_trouble;

    // The attempt that answered, else the last when it was cut short, else
    // the last that found more than silence (the adapter's rate, a garbled
    // sync byte), else the last; none when none was tried.
    const EcuAttempt* deciding() const;
    bool answered() const;
    // The deciding attempt's; none when none was tried or the check was cut
    // short before it reached one.
    std::optional<EcuDiagnosis> diagnosis() const;
};

// Wakes the ECU behind an open port as the request asks, ends every session
// it began, and leaves the line at KLINE_RATE. Input waiting before the first
// wake-up is dropped only when input_ours (PortOpening::input_ours); traffic
// on the bus before it refuses the check (busy). Main thread; the port must
// be watched by interruption_watch.
EcuCheck check_ecu(const OpenPort& port, const EcuRequest& request,
                   std::optional<int> latency_timer_ms, bool input_ours);
