// A window to put gadgets in, for the gadget tests: the event queue, the
// window and gadget tables, and one open window whose gadget area is the main
// thread's gadget container. Closing it at the end destroys every gadget.
#pragma once

#include "base/registry.h"
#include "tests/support/gui_waits.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

// The number of the window the fixture opens; events carry it.
inline constexpr int GADGET_TEST_WINDOW = 5;

class GadgetWindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    GtkWidget* window() const;
};

// Takes every event until the toolkit and the queue have been quiet for a
// while (bounded by a deadline); returns the gadget events among them.
std::vector<TakenEvent> gadget_events_until_quiet();
using GadgetEvent = TakenEvent;

// Runs the toolkit until the widget is on screen (bounded); returns whether it is.
bool gadget_shown(GtkWidget* widget);

// Moves the pointer over the middle of the widget, as a user would, and
// presses and releases the mouse button there (4 and 5 are the scroll wheel).
// Returns whether the command could be run.
bool gadget_user_click(GtkWidget* widget, int button);

// The widget's text in the toolkit's encoding.
std::string gadget_label_text(GtkWidget* label);

// The thread's scheduler state letter from /proc ('R', 'S', ...), or 0.
char gadget_thread_state(long thread_id);
