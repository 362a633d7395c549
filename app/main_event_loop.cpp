#include "app/main_event_loop.h"

#include "app/loopback_worker.h"
#include "app/main_window.h"
#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "sys/thread.h"

EventLoopState& event_loop_state() {
    static EventLoopState state{};
    return state;
}

void main_event_loop() {
    EventLoopState& state = event_loop_state();
    state.quit_requested = 0;
    do {
        state.last_event = window_wait_event();
        if (state.last_event == EVENT_GADGET) {
            switch (event_gadget()) {
            case GADGET_TEST_BUTTON:
                // Disabled in the same pass, before the next wait, so the
                // worker's completion event always comes after it.
                if (thread_create(loopback_test, 0) != 0) {
                    gadget_disable(GADGET_TEST_BUTTON, 1);
                }
                break;
            case GADGET_TEST_DONE:
                gadget_disable(GADGET_TEST_BUTTON, 0);
                break;
            default:
                break;
            }
        } else if (state.last_event == EVENT_CLOSE_WINDOW) {
            state.quit_requested = 1;
        }
    } while (state.quit_requested == 0);
}
