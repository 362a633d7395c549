#include "tests/support/gui_waits.h"

#include "gui/event_queue.h"

#include <chrono>
#include <gtk/gtk.h>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// One step of toolkit work, or a short nap without gui_lock when there is none,
// so that workers can take the lock.
void step_toolkit() {
    if (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
        return;
    }
    gdk_threads_leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    gdk_threads_enter();
}

} // namespace

bool run_toolkit_until(const std::function<bool()>& done, double seconds) {
    auto deadline = deadline_after(seconds);
    while (!done()) {
        if (Clock::now() > deadline) {
            return done();
        }
        step_toolkit();
    }
    return true;
}

void run_toolkit_for(double seconds) {
    auto deadline = deadline_after(seconds);
    while (Clock::now() < deadline) {
        step_toolkit();
    }
}

TakenEvent take_event_until(const std::function<bool(const TakenEvent&)>& wanted, double seconds,
                            std::vector<TakenEvent>* seen) {
    auto deadline = deadline_after(seconds);
    while (Clock::now() < deadline) {
        int code = event_wait(20);
        if (code <= 0) {
            continue;
        }
        TakenEvent event{code, event_window(), event_gadget(), event_detail()};
        if (seen != nullptr) {
            seen->push_back(event);
        }
        if (wanted(event)) {
            return event;
        }
    }
    return TakenEvent{EVENT_NONE, 0, 0, 0};
}

std::vector<TakenEvent> take_events_until_quiet(double quiet_seconds, double seconds) {
    std::vector<TakenEvent> taken;
    auto deadline = deadline_after(seconds);
    auto quiet_since = Clock::now();
    auto quiet_for = std::chrono::duration<double>(quiet_seconds);
    while (Clock::now() < deadline && Clock::now() - quiet_since < quiet_for) {
        int code = event_wait(10);
        if (code == EVENT_NONE) {
            continue;
        }
        quiet_since = Clock::now();
        if (code > 0) {
            taken.push_back(TakenEvent{code, event_window(), event_gadget(), event_detail()});
        }
    }
    return taken;
}

void join_without_gui_lock(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    gdk_threads_leave();
    thread.join();
    gdk_threads_enter();
}
