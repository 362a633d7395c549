// Start-up and shutdown of the tester: the layers in their fixed order, the
// usage notice, the main window, and the way out.
#pragma once

#include <string>

// The wiring instructions shown under "Usage": nine lines, no line end at the end.
std::string build_usage_text();

// Starts every layer in order; afterwards the main thread holds gui_lock.
void start_layers();

// Frees fonts, closes windows, releases images and listings, gives up
// gui_lock, finishes the thread layer and closes every serial port, a running
// test's port included. Main thread, after the event loop.
void shutdown_all();

// The entry procedure: start-up, the notice, the main window, the event loop,
// shutdown; ends the process with status 0 and never returns.
[[noreturn]] void run_tester(int argument_count, char** argument_vector);
