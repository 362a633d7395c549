#include "tests/support/gui_waits.h"

#include "gui/event_queue.h"

#include "tests/support/wait_until.h"

#include <gtk/gtk.h>

namespace {

std::chrono::milliseconds milliseconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
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

// The steps nap themselves: no sleep between them.
bool step_until(const std::function<bool()>& done, double seconds) {
    return wait_until(done, milliseconds(seconds), std::chrono::milliseconds(0));
}

} // namespace

bool run_toolkit_until(const std::function<bool()>& done, double seconds) {
    return step_until(
        [&] {
            if (done()) {
                return true;
            }
            step_toolkit();
            return false;
        },
        seconds);
}

void run_toolkit_for(double seconds) {
    step_until(
        [] {
            step_toolkit();
            return false;
        },
        seconds);
}

TakenEvent take_event_until(const std::function<bool(const TakenEvent&)>& wanted, double seconds,
                            std::vector<TakenEvent>* seen) {
    TakenEvent event{EVENT_NONE, 0, 0, 0};
    bool found = step_until(
        [&] {
            int code = event_wait(20);
            if (code <= 0) {
                return false;
            }
            event = TakenEvent{code, event_window(), event_gadget(), event_detail()};
            if (seen != nullptr) {
                seen->push_back(event);
            }
            return wanted(event);
        },
        seconds);
    return found ? event : TakenEvent{EVENT_NONE, 0, 0, 0};
}

std::vector<TakenEvent> take_queued_events() {
    std::vector<TakenEvent> taken;
    while (event_queue_length() > 0) {
        const int code = event_wait(0);
        taken.push_back(TakenEvent{code, event_window(), event_gadget(), event_detail()});
    }
    return taken;
}

std::vector<TakenEvent> take_events_until_quiet(double quiet_seconds, double seconds) {
    std::vector<TakenEvent> taken;
    auto quiet_since = std::chrono::steady_clock::now();
    step_until(
        [&] {
            int code = event_wait(10);
            auto now = std::chrono::steady_clock::now();
            if (code != EVENT_NONE) {
                quiet_since = now;
            }
            if (code > 0) {
                taken.push_back(TakenEvent{code, event_window(), event_gadget(), event_detail()});
            }
            return now - quiet_since >= milliseconds(quiet_seconds);
        },
        seconds);
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
