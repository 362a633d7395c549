#include "tests/support/gadget_fixture.h"

#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "gui/window.h"
#include "tests/support/gui_waits.h"
#include "tests/support/processes.h"
#include "tests/support/x_properties.h"

#include <fstream>

void GadgetWindowTest::SetUp() {
    event_queue_init();
    window_init();
    gadget_init();
    ASSERT_NE(window_open(GADGET_TEST_WINDOW, 0, 0, 400, 300, "gadget test",
                          WINDOW_SCREEN_CENTERED | WINDOW_SYSTEM_MENU),
              0);
    // The window's own focus and repaint events are no business of the tests.
    take_events_until_quiet();
}

void GadgetWindowTest::TearDown() {
    window_close(-1);
    event_flush_toolkit();
}

GtkWidget* GadgetWindowTest::window() const {
    return window_handle(GADGET_TEST_WINDOW);
}

std::vector<TakenEvent> gadget_events_until_quiet() {
    std::vector<TakenEvent> gadget_events;
    for (const TakenEvent& event : take_events_until_quiet()) {
        if (event.code == EVENT_GADGET) {
            gadget_events.push_back(event);
        }
    }
    return gadget_events;
}

bool gadget_shown(GtkWidget* widget) {
    return run_toolkit_until([&] { return gtk_widget_get_mapped(widget); });
}

bool gadget_user_click(GtkWidget* widget, int button) {
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    int x = 0;
    int y = 0;
    if (!gtk_widget_translate_coordinates(widget, toplevel, allocation.width / 2,
                                          allocation.height / 2, &x, &y)) {
        return false;
    }
    return run_tool({"xdotool", "mousemove", "--window", std::to_string(x_window(toplevel).id),
                     std::to_string(x), std::to_string(y), "click", std::to_string(button)})
               .status == 0;
}

std::string gadget_label_text(GtkWidget* label) {
    const char* text = gtk_label_get_text(GTK_LABEL(label));
    return text != nullptr ? text : "";
}

char gadget_thread_state(long thread_id) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread_id) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name in parentheses may hold spaces; the state follows it.
    auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) {
        return 0;
    }
    return line[close + 2];
}
