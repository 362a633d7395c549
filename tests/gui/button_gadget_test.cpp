#include "gui/button_gadget.h"

#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "tests/support/gadget_fixture.h"
#include "tests/support/gui_waits.h"

#include <gtest/gtest.h>

namespace {

using ButtonGadgetTest = GadgetWindowTest;

TEST_F(ButtonGadgetTest, UserClickQueuesOneClickedEventUnlessDisabled) {
    object_number button = button_gadget_create_plain(OBJECT_ANY, 20, 20, 100, 30, "Test");
    GtkWidget* widget = gadget_lookup(button)->widget;
    ASSERT_TRUE(gadget_shown(widget));

    ASSERT_TRUE(gadget_user_click(widget, 1));
    EXPECT_EQ(gadget_events_until_quiet(),
              (std::vector<TakenEvent>{
                  {EVENT_GADGET, GADGET_TEST_WINDOW, static_cast<int>(button), DETAIL_CLICKED}}));

    gadget_disable(button, 2);
    EXPECT_FALSE(gtk_widget_get_sensitive(widget));
    ASSERT_TRUE(gadget_user_click(widget, 1));
    EXPECT_TRUE(gadget_events_until_quiet().empty());
    gadget_disable(button, 0);
    ASSERT_TRUE(gadget_user_click(widget, 1));
    EXPECT_EQ(gadget_events_until_quiet().size(), 1u);
}

TEST_F(ButtonGadgetTest, NoClickWhileACloseRequestHeadsTheQueue) {
    ASSERT_NE(button_gadget_create_plain(2, 20, 20, 100, 30, "Test"), 0);
    GtkWidget* button = gadget_lookup(2)->widget;
    ASSERT_TRUE(gadget_shown(button));
    gadget_events_until_quiet();

    event_push(EVENT_CLOSE_WINDOW, 0, GADGET_TEST_WINDOW, 0, nullptr, nullptr, 0);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(event_queue_length(), 1);
    ASSERT_EQ(event_wait(0), EVENT_CLOSE_WINDOW);

    gtk_button_clicked(GTK_BUTTON(button));
    ASSERT_EQ(event_wait(0), EVENT_GADGET);
    EXPECT_EQ(event_gadget(), 2);
    EXPECT_EQ(event_detail(), DETAIL_CLICKED);
}

TEST_F(ButtonGadgetTest, StateOfATwoStateButtonIsSetWithoutAnEvent) {
    ASSERT_NE(button_gadget_create(1, 20, 20, 100, 30, "toggle", BUTTON_TOGGLE), 0);
    ASSERT_NE(button_gadget_create_plain(2, 20, 60, 100, 30, nullptr), 0);
    GtkWidget* toggle = gadget_lookup(1)->widget;
    ASSERT_TRUE(GTK_IS_TOGGLE_BUTTON(toggle));

    gadget_set_state(1, 5);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)));
    gadget_set_state(2, 1);
    gadget_set_text(2, "push");
    EXPECT_EQ(gadget_label_text(gtk_bin_get_child(GTK_BIN(gadget_lookup(2)->widget))), "push");
    EXPECT_TRUE(gadget_events_until_quiet().empty());

    gadget_set_state(1, 0);
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)));
    // The same change made by the user is an event.
    gtk_button_clicked(GTK_BUTTON(toggle));
    EXPECT_EQ(gadget_events_until_quiet().size(), 1u);
}

TEST_F(ButtonGadgetTest, WrappedLabelFillsTheButton) {
    ASSERT_NE(button_gadget_create(5, 150, 10, 90, 60,
                                   "a label far too long for one line of this button",
                                   BUTTON_WRAP | BUTTON_ALIGN_LEFT),
              0);
    GtkWidget* button = gadget_lookup(5)->widget;
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
    ASSERT_TRUE(gadget_shown(label));
    // Once laid out the label asks for the whole button, and the button keeps
    // its own size.
    GtkAllocation allocation;
    EXPECT_TRUE(run_toolkit_until([&] {
        gtk_widget_get_allocation(button, &allocation);
        int width = 0;
        int height = 0;
        gtk_widget_get_size_request(label, &width, &height);
        return width == allocation.width && height == allocation.height;
    }));
    EXPECT_EQ(allocation.width, 90);
    EXPECT_EQ(allocation.height, 60);
    EXPECT_GT(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 1);
}

} // namespace
