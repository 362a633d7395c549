#include "gui/text_gadget.h"

#include "gui/button_gadget.h"
#include "gui/combo_box_gadget.h"
#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "tests/support/gadget_fixture.h"

#include <gtest/gtest.h>

namespace {

using TextGadgetTest = GadgetWindowTest;

constexpr const char* LONG_TEXT =
    "Connect the adapter to +12 V and ground, then choose its port and press Test.";

// The label's layout once the window has laid it out at its final size.
PangoLayout* laid_out(GtkWidget* label, int width) {
    gadget_run_until([&] {
        GtkAllocation allocation;
        gtk_widget_get_allocation(label, &allocation);
        return allocation.width == width && gtk_widget_get_mapped(label);
    });
    return gtk_label_get_layout(GTK_LABEL(label));
}

int layout_width(PangoLayout* layout) {
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    return width;
}

bool colors_flagged(GtkWidget* widget, GtkStateType state, unsigned flags) {
    return (gtk_widget_get_modifier_style(widget)->color_flags[state] & flags) == flags;
}

TEST_F(TextGadgetTest, PlainTextWrapsWithinItsWidthFromTheTopLeft) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 120, 80, LONG_TEXT), 0);
    GtkWidget* label = gadget_lookup(1)->widget;
    PangoLayout* layout = laid_out(label, 120);
    EXPECT_TRUE(gtk_label_get_line_wrap(GTK_LABEL(label)));
    EXPECT_GT(pango_layout_get_line_count(layout), 1);
    EXPECT_LE(layout_width(layout), 120);
    gfloat x = -1;
    gfloat y = -1;
    gtk_misc_get_alignment(GTK_MISC(label), &x, &y);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
}

TEST_F(TextGadgetTest, RightAndCentredTextsKeepOneLineAtTheTop) {
    ASSERT_NE(text_gadget_create(1, 10, 10, 120, 20, LONG_TEXT, TEXT_ALIGN_RIGHT), 0);
    ASSERT_NE(text_gadget_create(2, 10, 40, 120, 20, LONG_TEXT, TEXT_ALIGN_CENTRE), 0);
    ASSERT_NE(text_gadget_create(3, 10, 70, 120, 20, "x", TEXT_ALIGN_RIGHT | TEXT_ALIGN_CENTRE), 0);
    const float expected_x[] = {1.0f, 0.5f, 1.0f};
    for (int gadget = 1; gadget <= 3; ++gadget) {
        GtkWidget* label = gadget_lookup(gadget)->widget;
        EXPECT_FALSE(gtk_label_get_line_wrap(GTK_LABEL(label))) << gadget;
        EXPECT_EQ(pango_layout_get_line_count(laid_out(label, 120)), 1) << gadget;
        gfloat x = -1;
        gfloat y = -1;
        gtk_misc_get_alignment(GTK_MISC(label), &x, &y);
        EXPECT_EQ(x, expected_x[gadget - 1]) << gadget;
        EXPECT_EQ(y, 0.0f) << gadget;
    }
}

TEST_F(TextGadgetTest, FramedTextSitsInASunkenFrame) {
    ASSERT_NE(text_gadget_create(1, 10, 10, 200, 22, "sent", TEXT_FRAMED), 0);
    GadgetRecord* record = gadget_lookup(1);
    ASSERT_TRUE(GTK_IS_EVENT_BOX(record->outer));
    GtkWidget* frame = gtk_bin_get_child(GTK_BIN(record->outer));
    ASSERT_TRUE(GTK_IS_FRAME(frame));
    EXPECT_EQ(gtk_frame_get_shadow_type(GTK_FRAME(frame)), GTK_SHADOW_IN);
    EXPECT_EQ(gtk_frame_get_label_widget(GTK_FRAME(frame)), nullptr);
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(frame)), record->widget);
    EXPECT_FALSE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));

    gadget_set_text(1, "This is a test!");
    EXPECT_EQ(gadget_label_text(record->widget), "This is a test!");
    EXPECT_STREQ(gadget_get_text(1), "This is a test!");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(TextGadgetTest, NullTextIsTheEmptyText) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, nullptr), 0);
    ASSERT_NE(text_gadget_create_plain(2, 10, 40, 100, 20, ""), 0);
    EXPECT_STREQ(gadget_get_text(1), "");
    EXPECT_STREQ(gadget_get_text(2), "");
    gadget_set_text(2, "something");
    gadget_set_text(2, nullptr);
    EXPECT_EQ(gadget_label_text(gadget_lookup(2)->widget), "");
}

TEST_F(TextGadgetTest, TextsCrossTheToolkitInItsEncoding) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "caf\xE9"), 0);
    EXPECT_EQ(gadget_label_text(gadget_lookup(1)->widget), "caf\xC3\xA9");
    EXPECT_STREQ(gadget_get_text(1), "caf\xE9");
    // The euro sign of the program's character set has no one-byte form on
    // the way back.
    gadget_set_text(1, "5 \xA4");
    EXPECT_EQ(gadget_label_text(gadget_lookup(1)->widget), "5 \xE2\x82\xAC");
    EXPECT_STREQ(gadget_get_text(1), "5 ?");
}

TEST_F(TextGadgetTest, BackgroundColourPaintsTheEventBoxUntilRemoved) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "coloured"), 0);
    GadgetRecord* record = gadget_lookup(1);
    gadget_set_color(1, COLOR_BACKGROUND, 204);

    EXPECT_TRUE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    for (GtkWidget* widget : {record->widget, record->outer}) {
        GtkRcStyle* style = gtk_widget_get_modifier_style(widget);
        for (GtkStateType state : {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT}) {
            EXPECT_TRUE(colors_flagged(widget, state, GTK_RC_BG | GTK_RC_BASE));
            EXPECT_EQ(style->bg[state].red, 0xCC00);
            EXPECT_EQ(style->bg[state].green, 0);
            EXPECT_EQ(style->bg[state].blue, 0);
            EXPECT_EQ(style->base[state].red, 0xCC00);
        }
        EXPECT_EQ(style->color_flags[GTK_STATE_SELECTED], 0);
        EXPECT_EQ(style->color_flags[GTK_STATE_INSENSITIVE], 0);
    }
    // The style the widget draws with follows the modifier style.
    EXPECT_EQ(gtk_widget_get_style(record->outer)->bg[GTK_STATE_NORMAL].red, 0xCC00);
    EXPECT_EQ(record->ops->get_color(record, COLOR_BACKGROUND), 204);
    EXPECT_EQ(record->ops->get_color(record, COLOR_FOREGROUND), -1);

    gadget_set_color(1, COLOR_BACKGROUND, -1);
    EXPECT_FALSE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    EXPECT_FALSE(colors_flagged(record->widget, GTK_STATE_NORMAL, GTK_RC_BG));
    EXPECT_FALSE(colors_flagged(record->outer, GTK_STATE_NORMAL, GTK_RC_BASE));
    EXPECT_EQ(record->ops->get_color(record, COLOR_BACKGROUND), -1);
}

TEST_F(TextGadgetTest, ForegroundColourChangesOnlyTheLabel) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "coloured"), 0);
    GadgetRecord* record = gadget_lookup(1);
    // Blue in the third byte, green in the second.
    gadget_set_color(1, COLOR_FOREGROUND, 0x3300FF);
    GtkRcStyle* style = gtk_widget_get_modifier_style(record->widget);
    EXPECT_TRUE(colors_flagged(record->widget, GTK_STATE_PRELIGHT, GTK_RC_FG | GTK_RC_TEXT));
    EXPECT_EQ(style->fg[GTK_STATE_NORMAL].red, 0xFF00);
    EXPECT_EQ(style->fg[GTK_STATE_NORMAL].green, 0);
    EXPECT_EQ(style->fg[GTK_STATE_NORMAL].blue, 0x3300);
    EXPECT_EQ(style->text[GTK_STATE_ACTIVE].blue, 0x3300);
    EXPECT_FALSE(colors_flagged(record->outer, GTK_STATE_NORMAL, GTK_RC_FG));
    EXPECT_FALSE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    EXPECT_EQ(record->ops->get_color(record, COLOR_FOREGROUND), 0x3300FF);

    // An attribute that is neither colour changes nothing.
    gadget_set_color(1, 3, 204);
    EXPECT_EQ(record->ops->get_color(record, COLOR_FOREGROUND), 0x3300FF);
    EXPECT_EQ(record->ops->get_color(record, 3), -1);
    EXPECT_FALSE(colors_flagged(record->widget, GTK_STATE_NORMAL, GTK_RC_BG));
}

TEST_F(TextGadgetTest, ButtonsAndComboBoxesKeepTheirColours) {
    ASSERT_NE(button_gadget_create_plain(1, 10, 10, 100, 25, "button"), 0);
    ASSERT_NE(combo_box_gadget_create_plain(2, 10, 40, 100, 25), 0);
    for (int gadget : {1, 2}) {
        gadget_set_color(gadget, COLOR_BACKGROUND, 204);
        gadget_set_color(gadget, COLOR_FOREGROUND, 204);
        GadgetRecord* record = gadget_lookup(gadget);
        EXPECT_EQ(gtk_widget_get_modifier_style(record->widget)->color_flags[GTK_STATE_NORMAL], 0);
        if (record->outer != nullptr) {
            EXPECT_EQ(gtk_widget_get_modifier_style(record->outer)->color_flags[GTK_STATE_NORMAL],
                      0);
        }
    }
}

} // namespace
