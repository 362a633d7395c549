// The 5-baud wake-up of ISO 9141-2 and KWP2000 slow init: after at least
// 300 ms of idle bus, the address at 5 baud; the ECU's sync byte 0x55 within
// W1, its key bytes within W2 and W3; the inverted KB2 sent back within W4,
// the inverted address from the ECU within W4. The key bytes say which of the
// two the ECU talks: 08 08 or 94 94 ISO 9141-2, KB2 0x8F KWP2000. KW1281
// wakes the same way.
#pragma once

#include "check/ecu/handshake.h"

#include <optional>

// What the ECU sent after the address.
struct FiveBaudWake {
    unsigned char kb1 = 0;
    WireByte kb2;
};

// Sends the byte at 5 baud and reads the sync byte and the key bytes; none
// when they did not come as they should, the attempt's diagnosis then says
// why (a garbled sync byte: other_rate with the rate it suggests).
std::optional<FiveBaudWake> wake_by_five_baud(Handshake& handshake, unsigned char byte);

// Sends the inverse of the answered byte inside W4 after it, as the step's.
std::optional<WireSend> send_inverted(Handshake& handshake, EcuStep& step,
                                      const WireByte& answered);

// Wakes the ECU at the attempt's address, proves the session (mode 01 PID 00
// in the protocol's framing) and ends it. Main thread.
void slow_init_attempt(Handshake& handshake);
