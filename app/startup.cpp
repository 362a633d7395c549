#include "app/startup.h"

#include "app/main_event_loop.h"
#include "app/main_window.h"
#include "app/port_discovery.h"
#include "app/text_list.h"
#include "base/text_storage.h"
#include "gui/event_queue.h"
#include "gui/font.h"
#include "gui/gadget.h"
#include "gui/message_dialog.h"
#include "gui/statusbar.h"
#include "gui/toolkit.h"
#include "gui/window.h"
#include "gui/window_icon.h"
#include "image/image.h"
#include "serial/serial_port.h"
#include "sys/directory.h"
#include "sys/thread.h"

#include <cstdlib>

namespace {

// Process-wide state of the tester. Made once and never destroyed: a test
// worker may still be running while the process exits.
struct TesterState {
    std::string usage_text;
    TextList port_list;
};

TesterState& tester_state() {
    static auto* state = new TesterState;
    return *state;
}

} // namespace

std::string build_usage_text() {
    std::string text = "If the driver is already installed...\n";
    text += "\n";
    text += "Connect the USB adapter to your pc.\n";
    text += "Plugin the 3 pole cable adapter.\n";
    text += "Connect the red clamp to +12V.\n";
    text += "If you have also a black clamp, connect it to GND.\n";
    text += "If not, connect GND to the middle pin of the 3 pole connector.\n";
    text += "\n";
    text += "Now you are prepared for the test!";
    return text;
}

void start_layers() {
    locale_init();
    text_storage_key_create();
    text_storage_create().release(); // the main thread's, kept for the life of the process
    serial_init();
    thread_system_init();
    toolkit_start();
    event_queue_init();
    image_init();
    window_init();
    gadget_init();
    statusbar_init();
    font_init();
}

void shutdown_all() {
    font_free_all();
    window_close_all();
    image_finish();
    dir_finish_all();
    toolkit_stop();
    thread_system_finish();
    serial_close_all();
}

void run_tester(int argument_count, char** argument_vector) {
    TesterState& state = tester_state();
    program_argument_count = argument_count;
    program_argument_vector = argument_vector;

    start_layers();
    // Before the first window: a window realized without an icon keeps none.
    window_set_default_icon("lantoric"); // present once the program is installed
    discover_ports(state.port_list);
    state.usage_text = build_usage_text();
    // Holds start-up until answered, so the main window comes only afterwards.
    message_dialog("Usage", state.usage_text.c_str(), 0);
    build_main_window(state.port_list);

    main_event_loop();
    shutdown_all();
    // A test that is still running keeps using its text storage: the key goes
    // only when no worker is left to reach it.
    if (thread_running_count() == 0) {
        text_storage_key_delete();
    }
    // The tester always ends with status 0.
    std::exit(0);
}
