// A KWP2000 session once the ECU woke (by fast init or slow init): requests
// framed as KB1 says, each answer read within P2 and checked by its checksum,
// a pending answer (0x78) waited for, a busy ECU (0x21) asked again; the
// session proven by mode 01 PID 00 and ended by StopCommunication.
#pragma once

#include "check/ecu/handshake.h"
#include "check/ecu/kwp_frames.h"

#include <optional>
#include <string>

// Sends the request as the step's and reads the answer's frame: none when
// none came (silent), it came garbled (other_rate) or malformed (broken), or
// the wait was cut; the attempt's diagnosis then says which. sent, when
// given, gets the request's own bytes' bounds.
std::optional<KwpFrame> kwp_exchange(Handshake& handshake, EcuStep& step,
                                     const std::string& request, WireSend* sent = nullptr);

// Where requests go: functional to 0x33, else physical to the address.
struct KwpTarget {
    int address = 0x33;
    std::optional<unsigned char> kb1;
    std::string request(std::string_view data) const;
};

// Mode 01 PID 00 after P3; the session held when it was answered, even by a
// refusal (the ECU talks, in its framing, with a right checksum).
bool prove_kwp_session(Handshake& handshake, const KwpTarget& target);

// StopCommunication; the session counts as ended once it was sent, since an
// ECU ends one after P3max without a request anyway. Runs after a stop too.
void end_kwp_session(Handshake& handshake, const KwpTarget& target);

// Whether key bytes are KWP2000's: KB2 0x8F, both with odd parity.
bool kwp_key_bytes(unsigned char kb1, unsigned char kb2);
