// The loopback test: runs on a worker thread, sends "This is a test!" through
// the port chosen in the main window and expects the same bytes back.
#pragma once

#include "app/core/loopback_exchange.h"

#include <cstdint>

// The worker procedure. Clears the two fields and the status bar, opens the
// chooser's port at 9600 8N1, writes the text, reads the echo byte by byte
// into the receive field, writes one verdict ("success", "timeout", "not able
// to transmit", "not able to open selected port") into the status bar, closes
// the port and posts EVENT_GADGET for GADGET_TEST_DONE. Reaches the toolkit
// only through the operations that take gui_lock themselves; the parameter is
// not read.
void loopback_test(std::intptr_t parameter);
