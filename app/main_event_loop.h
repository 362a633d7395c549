// The main event loop: waits for events, starts one loopback test per press of
// the Test button, keeps the button disabled while it runs and returns when
// the user asks to close the window. Main thread only.
#pragma once

// The loop's own state: one process-wide record (plain data, so nothing is
// destroyed at exit), which a test reads to see how the loop ended.
struct EventLoopState {
    int quit_requested; // 1 once a close-window event was taken
    int last_event;     // code of the latest window_wait_event
};

EventLoopState& event_loop_state();

// Returns after an EVENT_CLOSE_WINDOW; the caller then shuts down.
void main_event_loop();
