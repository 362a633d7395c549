// Waiting in GUI tests: run the toolkit until a condition holds or a deadline
// passes, and let worker threads reach gui_lock meanwhile. All of these run on
// the main thread, which holds gui_lock at depth one.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// Generous default deadline for anything the display or the window manager does.
inline constexpr double GUI_DEADLINE_SECONDS = 10.0;

// Runs toolkit iterations (never blocking for long, leaving gui_lock while
// idle) until done() is true or the deadline passes; returns done().
// Takes no event out of the event queue.
bool run_toolkit_until(const std::function<bool()>& done, double seconds = GUI_DEADLINE_SECONDS);

// Runs the toolkit for that long, whatever happens.
void run_toolkit_for(double seconds);

// One event taken with event_wait: its code and the current event's fields.
struct TakenEvent {
    int code;
    int window;
    int object;
    int detail;
    bool operator==(const TakenEvent&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const TakenEvent& e) {
    return out << "{code " << e.code << ", window " << e.window << ", object " << e.object
               << ", detail " << e.detail << "}";
}

// Takes events with short timed waits until one satisfies wanted (returned) or
// the deadline passes (code EVENT_NONE). Every event taken on the way is
// appended to seen when given.
TakenEvent take_event_until(const std::function<bool(const TakenEvent&)>& wanted,
                            double seconds = GUI_DEADLINE_SECONDS,
                            std::vector<TakenEvent>* seen = nullptr);

// Takes every event until the toolkit and the queue have been quiet for
// quiet_seconds; returns the events taken.
// Takes every event queued now, in order, without running the toolkit.
std::vector<TakenEvent> take_queued_events();

std::vector<TakenEvent> take_events_until_quiet(double quiet_seconds = 0.3,
                                                double seconds = GUI_DEADLINE_SECONDS);

// Joins a thread that may need gui_lock to finish: the main thread's hold is
// given up for the join and taken back afterwards.
void join_without_gui_lock(std::thread& thread);
