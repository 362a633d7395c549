#include "gui/button_gadget.h"

#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "tests/support/gadget_fixture.h"

#include <gtest/gtest.h>

namespace {

using ButtonGadgetTest = GadgetWindowTest;

GtkWidget* label_of(object_number gadget) {
    return gtk_bin_get_child(GTK_BIN(gadget_lookup(gadget)->widget));
}

bool shown(GtkWidget* widget) {
    return gadget_run_until([&] { return gtk_widget_get_mapped(widget); });
}

TEST_F(ButtonGadgetTest, UserClickQueuesOneClickedEvent) {
    object_number button = button_gadget_create_plain(OBJECT_ANY, 20, 20, 100, 30, "Test");
    ASSERT_LT(button, -1);
    ASSERT_TRUE(shown(gadget_lookup(button)->widget));

    ASSERT_TRUE(gadget_user_click(gadget_lookup(button)->widget, 1));
    std::vector<GadgetEvent> events = gadget_events_until_quiet();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, button);
    EXPECT_EQ(events[0].window, GADGET_TEST_WINDOW);
    EXPECT_EQ(events[0].detail, DETAIL_CLICKED);
}

TEST_F(ButtonGadgetTest, NoClickWhileACloseRequestHeadsTheQueue) {
    ASSERT_NE(button_gadget_create_plain(2, 20, 20, 100, 30, "Test"), 0);
    GtkWidget* button = gadget_lookup(2)->widget;
    ASSERT_TRUE(shown(button));
    gadget_events_until_quiet();

    event_push(EVENT_CLOSE_WINDOW, 0, GADGET_TEST_WINDOW, 0, nullptr, nullptr, 0);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(event_queue_length(), 1);
    EXPECT_EQ(event_peek_code(), EVENT_CLOSE_WINDOW);

    ASSERT_EQ(event_wait(0), EVENT_CLOSE_WINDOW);
    gtk_button_clicked(GTK_BUTTON(button));
    ASSERT_EQ(event_wait(0), EVENT_GADGET);
    EXPECT_EQ(event_gadget(), 2);
    EXPECT_EQ(event_detail(), DETAIL_CLICKED);
}

TEST_F(ButtonGadgetTest, DisabledButtonIgnoresTheUser) {
    ASSERT_NE(button_gadget_create_plain(2, 20, 20, 100, 30, "Test"), 0);
    GtkWidget* button = gadget_lookup(2)->widget;
    ASSERT_TRUE(shown(button));
    gadget_disable(2, 2);
    ASSERT_TRUE(gadget_user_click(button, 1));
    EXPECT_TRUE(gadget_events_until_quiet().empty());

    gadget_disable(2, 0);
    ASSERT_TRUE(gadget_user_click(button, 1));
    EXPECT_EQ(gadget_events_until_quiet().size(), 1u);
}

TEST_F(ButtonGadgetTest, StateOfATwoStateButtonIsSetWithoutAnEvent) {
    ASSERT_NE(button_gadget_create(1, 20, 20, 100, 30, "toggle", BUTTON_TOGGLE), 0);
    ASSERT_NE(button_gadget_create_plain(2, 20, 60, 100, 30, "push"), 0);
    GadgetRecord* toggle = gadget_lookup(1);
    GadgetRecord* push = gadget_lookup(2);
    ASSERT_TRUE(GTK_IS_TOGGLE_BUTTON(toggle->widget));
    EXPECT_FALSE(GTK_IS_TOGGLE_BUTTON(push->widget));

    gadget_set_state(1, 5);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle->widget)));
    EXPECT_EQ(toggle->ops->get_state(toggle), 1);
    gadget_set_state(2, 1);
    EXPECT_EQ(push->ops->get_state(push), 0);
    EXPECT_TRUE(gadget_events_until_quiet().empty());

    gadget_set_state(1, 0);
    EXPECT_EQ(toggle->ops->get_state(toggle), 0);
    // The user's press of the same button is an event.
    gtk_button_clicked(GTK_BUTTON(toggle->widget));
    EXPECT_EQ(toggle->ops->get_state(toggle), 1);
    EXPECT_EQ(gadget_events_until_quiet().size(), 1u);
}

TEST_F(ButtonGadgetTest, TextGoesToTheChildLabel) {
    ASSERT_NE(button_gadget_create_plain(1, 20, 20, 100, 30, nullptr), 0);
    EXPECT_STREQ(gadget_get_text(1), "");
    gadget_set_text(1, "Test");
    EXPECT_EQ(gadget_label_text(label_of(1)), "Test");
    EXPECT_STREQ(gadget_get_text(1), "Test");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ButtonGadgetTest, FlagsAlignAndWrapTheLabel) {
    ASSERT_NE(button_gadget_create_plain(1, 10, 10, 100, 30, "centre"), 0);
    ASSERT_NE(button_gadget_create(2, 10, 50, 100, 30, "right", BUTTON_ALIGN_RIGHT), 0);
    ASSERT_NE(button_gadget_create(3, 10, 90, 100, 30, "left", BUTTON_ALIGN_LEFT), 0);
    ASSERT_NE(
        button_gadget_create(4, 10, 130, 100, 30, "right", BUTTON_ALIGN_RIGHT | BUTTON_ALIGN_LEFT),
        0);
    const float expected_x[] = {0.5f, 1.0f, 0.0f, 1.0f};
    for (int gadget = 1; gadget <= 4; ++gadget) {
        gfloat x = -1;
        gfloat y = -1;
        gtk_misc_get_alignment(GTK_MISC(label_of(gadget)), &x, &y);
        EXPECT_EQ(x, expected_x[gadget - 1]) << gadget;
        EXPECT_EQ(y, 0.5f) << gadget;
        EXPECT_FALSE(gtk_label_get_line_wrap(GTK_LABEL(label_of(gadget)))) << gadget;
    }

    ASSERT_NE(button_gadget_create(5, 150, 10, 90, 60,
                                   "a label far too long for one line of this button", BUTTON_WRAP),
              0);
    GtkWidget* label = label_of(5);
    EXPECT_TRUE(gtk_label_get_line_wrap(GTK_LABEL(label)));
    ASSERT_TRUE(shown(label));
    // Once laid out the label asks for the whole button, and the button keeps
    // its own size.
    GtkAllocation button_allocation;
    ASSERT_TRUE(gadget_run_until([&] {
        gtk_widget_get_allocation(gadget_lookup(5)->widget, &button_allocation);
        int width = 0;
        int height = 0;
        gtk_widget_get_size_request(label, &width, &height);
        return width == button_allocation.width && height == button_allocation.height;
    }));
    EXPECT_EQ(button_allocation.width, 90);
    EXPECT_EQ(button_allocation.height, 60);
    EXPECT_GT(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 1);
}

} // namespace
