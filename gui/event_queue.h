// The event queue: one process-wide FIFO of event records. Toolkit signal
// handlers of windows and gadgets push into it; worker threads post into it;
// only the main thread waits on it and reads the current event.
//
// The queue's recursive mutex guards the queue, its record pool and the current
// event. Lock order: gui_lock before the queue's mutex; the queue never takes
// gui_lock.
#pragma once

#include <cstdint>

// Event codes.
inline constexpr int EVENT_NONE = 0;  // wait result: nothing happened
inline constexpr int EVENT_IDLE = -1; // wait result: the toolkit worked, nothing queued
inline constexpr int EVENT_CLOSE_WINDOW = 2;
inline constexpr int EVENT_GADGET = 3;
inline constexpr int EVENT_REPAINT = 4;
inline constexpr int EVENT_MOVE_WINDOW = 5;
inline constexpr int EVENT_SIZE_WINDOW = 6;
inline constexpr int EVENT_ACTIVATE_WINDOW = 7;
inline constexpr int EVENT_DEACTIVATE_WINDOW = 8;
inline constexpr int EVENT_DROP = 10;         // reserved: drag and drop; never produced
inline constexpr int EVENT_DROP_PRIVATE = 11; // reserved: drag and drop; never produced
inline constexpr int EVENT_MINIMIZE_WINDOW = 12;
inline constexpr int EVENT_MAXIMIZE_WINDOW = 13;
inline constexpr int EVENT_RESTORE_WINDOW = 14;
inline constexpr int EVENT_RIGHT_CLICK = 16;
inline constexpr int EVENT_LEFT_CLICK = 17;
inline constexpr int EVENT_LEFT_DOUBLE_CLICK = 18;
inline constexpr int EVENT_MOUSE_MOVE = 24;

// Push flags.
inline constexpr int EVENT_FORCE = 1;  // queued even while events are suppressed
inline constexpr int EVENT_POSTED = 2; // posted by a thread; never merged

using event_release = void (*)(void* data);

// Start-up, once, after toolkit_start and before any window or gadget exists:
// the record pool with its first chunk, the queue mutex. Main thread.
void event_queue_init();

// Appends an event. Dropped while events are suppressed unless flags has
// EVENT_FORCE. Not appended when it would repeat the newest queued event (same
// code, object, window and detail, code at most 0xFFFF) unless flags has
// EVENT_POSTED: a burst of identical signals becomes one event. When no record
// can be had the event is dropped and the queue stays intact. Any thread; takes
// only the queue's mutex. Toolkit signal handlers pass data none, release none,
// flags 0.
void event_push(int code, int object, int window, int detail, void* data, event_release release,
                int flags);

// Queues (code, window, object, detail 0) forced and posted, then adds a
// zero-delay toolkit timeout that wakes a main thread blocked in the toolkit.
// Any thread, without gui_lock; takes only the queue's mutex, and releases it
// before touching the main context.
void event_post(int code, int window, int object);
void event_post_detail(int code, int window, int object, int detail);

// Takes the next event and makes it the current event. A queued event is
// returned without running the toolkit. Otherwise: timeout_ms < 0 runs one
// blocking toolkit iteration; > 0 waits up to that many milliseconds for
// toolkit work (polling every 2 ms) and runs one iteration if some came; 0
// runs one iteration only if work is already pending. Returns the code of the
// event taken; EVENT_IDLE when an iteration ran but queued nothing; EVENT_NONE
// when no iteration ran and nothing is queued. After EVENT_NONE or EVENT_IDLE
// the current object and window stay those of the event taken before.
// Main thread, holding gui_lock at depth one (the toolkit's iteration calls and
// the polling sleep release it once, so workers' locked calls go through).
int event_wait(int timeout_ms);

// event_wait(-1).
int window_wait_event();

// Fields of the current event. Main thread; read without the mutex.
int event_code();
int event_gadget();
int event_window();
int event_detail();
void* event_data();

// Code of the oldest queued event, 0 when the queue is empty. Any thread; takes
// the queue's mutex.
int event_peek_code();

// Drops every queued event of that window, keeping the others' order. Any
// thread; takes the queue's mutex.
void event_discard_window(int window);

// Drops the queued events of that window that toolkit signals pushed (not the
// posted ones), keeping the others' order. Window opening uses it for the
// signals of a window that is still being placed. Any thread.
void event_discard_window_signals(int window);

// While suppressed (counter above 0), pushes without EVENT_FORCE are dropped.
// Called only with gui_lock held, in pairs.
void event_suppress_begin();
void event_suppress_end();

// Runs the toolkit's pending work without blocking; takes no event. Main
// thread, holding gui_lock.
void event_flush_toolkit();

// Waits up to timeout_ms (polling every 2 ms, as event_wait) for toolkit work
// and runs one iteration if some came; takes no event. Returns whether an
// iteration ran. Main thread, holding gui_lock at depth one.
bool event_run_toolkit(int timeout_ms);

// Number of queued events (for tests). Any thread.
int event_queue_length();
