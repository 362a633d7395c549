// KWP2000 fast init (ISO 14230-2): after at least 300 ms of idle bus, the
// line low for 25 ms (TiniL) and high for 25 ms, the whole pattern TWuP 50 ms,
// then StartCommunication at 10400 8N1; the ECU's positive answer carries
// its key bytes. Each phase is timed from the break call's return, where the
// line has changed at the latest.
#pragma once

#include "check/ecu/handshake.h"

// Wakes the ECU at the attempt's address, proves the session and ends it.
// The attempt says how it went. Main thread.
void fast_init_attempt(Handshake& handshake);
