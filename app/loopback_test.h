// The loopback test: runs on a worker thread, sends "This is a test!" through
// the port chosen in the main window and expects the same bytes back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

inline constexpr const char* TEST_TEXT = "This is a test!";
inline constexpr int TEST_POLL_TRIES = 100;
inline constexpr int TEST_POLL_DELAY_MS = 10;
// A bus that never falls silent would otherwise keep the test going forever:
// no test runs longer than this after its write.
inline constexpr std::chrono::milliseconds TEST_TIME_LIMIT{5000};
// The receive field shows at most this many bytes; later bytes are read and
// dropped, so a chattering bus cannot grow it without limit.
inline constexpr std::size_t TEST_RECEIVE_LIMIT = 256;

// The worker procedure. Clears the two fields and the status bar, opens the
// chooser's port at 9600 8N1, writes the text, reads the echo byte by byte
// into the receive field, writes one verdict ("success", "timeout", "not able
// to transmit", "not able to open selected port") into the status bar, closes
// the port and posts EVENT_GADGET for GADGET_TEST_DONE. Reaches the toolkit
// only through the operations that take gui_lock themselves; the parameter is
// not read.
void loopback_test(std::intptr_t parameter);
