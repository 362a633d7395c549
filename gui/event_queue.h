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
inline constexpr int EVENT_NONE = 0; // wait result: nothing happened
inline constexpr int EVENT_IDLE = -1; // wait result: the toolkit worked, nothing queued
inline constexpr int EVENT_CLOSE_WINDOW = 2;
inline constexpr int EVENT_GADGET = 3;
inline constexpr int EVENT_REPAINT = 4;
inline constexpr int EVENT_MOVE_WINDOW = 5;
inline constexpr int EVENT_SIZE_WINDOW = 6;
inline constexpr int EVENT_ACTIVATE_WINDOW = 7;
inline constexpr int EVENT_DEACTIVATE_WINDOW = 8;
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

// Start-up, after toolkit_start: the record pool, the queue mutex.
void event_queue_init();

// Appends an event (see the merging and suppression rules in event_queue.cpp).
// Any thread; takes only the queue's mutex.
void event_push(int code, int object, int window, int detail, void* data, event_release release,
                int flags);

// Queues (code, window, object) forced and posted, then adds a zero-delay
// toolkit timeout that wakes a main thread blocked in the toolkit. Any thread,
// without gui_lock.
void event_post(int code, int window, int object);
void event_post_detail(int code, int window, int object, int detail);

// Waits for the next event: timeout < 0 without limit, 0 not at all, > 0 for
// that many milliseconds. Returns the event's code, EVENT_NONE or EVENT_IDLE.
// Main thread, holding gui_lock at depth one.
int event_wait(int timeout_ms);

// event_wait(-1).
int window_wait_event();

// Fields of the current event (main thread).
int event_gadget();
int event_window();
int event_detail();
void* event_data();

// Code of the oldest queued event, 0 when the queue is empty. Any thread.
int event_peek_code();

// Drops every queued event of that window, keeping the others' order.
void event_discard_window(int window);

// While suppressed (counter above 0), pushes without EVENT_FORCE are dropped.
// Called only with gui_lock held.
void event_suppress_begin();
void event_suppress_end();

// Runs the toolkit's pending work without blocking; takes no event.
void event_flush_toolkit();

// Number of queued events (for tests).
int event_queue_length();
