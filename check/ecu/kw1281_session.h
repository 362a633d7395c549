// VAG's KW1281: the 5-baud address with odd parity; 55 01 8A back at the
// ECU's rate; the complement of 0x8A within W4; then blocks (length,
// counter, title, data, 03), each byte but the last 03 complemented by the
// other side before the next comes. The ECU sends its identification blocks
// (title F6), the tester acknowledges each with an ACK block (09), the ECU's
// own ACK block ends the identification, and the tester's end block (06)
// ends the session.
#pragma once

#include "check/ecu/handshake.h"

#include <string>
#include <string_view>

// A block as the tester sends it: 03 <counter> <title> 03 for no data.
std::string kw1281_block(unsigned char counter, unsigned char title, std::string_view data = {});

// Wakes the ECU at the attempt's address, reads its identification, ends the
// session. Main thread.
void kw1281_attempt(Handshake& handshake);
