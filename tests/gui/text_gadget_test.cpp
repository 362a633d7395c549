#include "gui/text_gadget.h"

#include "gui/button_gadget.h"
#include "gui/combo_box_gadget.h"
#include "gui/gadget.h"
#include "tests/support/gadget_fixture.h"
#include "tests/support/gui_waits.h"

#include <gtest/gtest.h>

namespace {

using TextGadgetTest = GadgetWindowTest;

constexpr const char* LONG_TEXT =
    "Connect the adapter to +12 V and ground, then choose its port and press Test.";

// The label's layout once the window has given it its final width.
PangoLayout* laid_out(GtkWidget* label, int width) {
    run_toolkit_until([&] {
        GtkAllocation allocation;
        gtk_widget_get_allocation(label, &allocation);
        return allocation.width == width && gtk_widget_get_mapped(label);
    });
    return gtk_label_get_layout(GTK_LABEL(label));
}

float x_alignment(GtkWidget* label) {
    gfloat x = -1;
    gfloat y = -1;
    gtk_misc_get_alignment(GTK_MISC(label), &x, &y);
    return y == 0.0f ? x : -1; // every text starts at the top
}

unsigned color_flags(GtkWidget* widget, GtkStateType state) {
    return gtk_widget_get_modifier_style(widget)->color_flags[state];
}

TEST_F(TextGadgetTest, PlainTextWrapsWithinItsWidth) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 120, 80, LONG_TEXT), 0);
    GtkWidget* label = gadget_lookup(1)->widget;
    PangoLayout* layout = laid_out(label, 120);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    EXPECT_GT(pango_layout_get_line_count(layout), 1);
    EXPECT_LE(width, 120);
    EXPECT_EQ(x_alignment(label), 0.0f);
}

TEST_F(TextGadgetTest, RightAndCentredTextsKeepOneLine) {
    ASSERT_NE(text_gadget_create(1, 10, 10, 120, 20, LONG_TEXT, TEXT_ALIGN_RIGHT), 0);
    ASSERT_NE(text_gadget_create(2, 10, 40, 120, 20, LONG_TEXT, TEXT_ALIGN_CENTRE), 0);
    ASSERT_NE(text_gadget_create(3, 10, 70, 120, 20, "x", TEXT_ALIGN_RIGHT | TEXT_ALIGN_CENTRE), 0);
    const float expected[] = {1.0f, 0.5f, 1.0f};
    for (int gadget = 1; gadget <= 3; ++gadget) {
        GtkWidget* label = gadget_lookup(gadget)->widget;
        EXPECT_EQ(pango_layout_get_line_count(laid_out(label, 120)), 1) << gadget;
        EXPECT_EQ(x_alignment(label), expected[gadget - 1]) << gadget;
    }
}

TEST_F(TextGadgetTest, FramedTextSitsInASunkenFrame) {
    ASSERT_NE(text_gadget_create(1, 10, 10, 200, 22, "sent", TEXT_FRAMED), 0);
    GadgetRecord* record = gadget_lookup(1);
    GtkWidget* frame = gtk_bin_get_child(GTK_BIN(record->outer));
    ASSERT_TRUE(GTK_IS_FRAME(frame));
    EXPECT_EQ(gtk_frame_get_shadow_type(GTK_FRAME(frame)), GTK_SHADOW_IN);
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(frame)), record->widget);

    gadget_set_text(1, "This is a test!");
    EXPECT_EQ(gadget_label_text(record->widget), "This is a test!");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(TextGadgetTest, NullTextIsTheEmptyText) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, nullptr), 0);
    EXPECT_STREQ(gadget_get_text(1), "");
    gadget_set_text(1, "something");
    gadget_set_text(1, nullptr);
    EXPECT_EQ(gadget_label_text(gadget_lookup(1)->widget), "");
}

TEST_F(TextGadgetTest, TextsCrossTheToolkitInItsEncoding) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "caf\xE9 \xA4"), 0);
    EXPECT_EQ(gadget_label_text(gadget_lookup(1)->widget), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_STREQ(gadget_get_text(1), "caf\xE9 \xA4");
}

TEST_F(TextGadgetTest, BackgroundColourPaintsTheEventBoxUntilRemoved) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "coloured"), 0);
    GadgetRecord* record = gadget_lookup(1);
    gadget_set_color(1, COLOR_BACKGROUND, 204);

    EXPECT_TRUE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    for (GtkWidget* widget : {record->widget, record->outer}) {
        GtkRcStyle* style = gtk_widget_get_modifier_style(widget);
        for (GtkStateType state : {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT}) {
            EXPECT_EQ(color_flags(widget, state), unsigned{GTK_RC_BG | GTK_RC_BASE});
            EXPECT_EQ(style->bg[state].red, 0xCC00);
            EXPECT_EQ(style->bg[state].green | style->bg[state].blue, 0);
            EXPECT_EQ(style->base[state].red, 0xCC00);
        }
        EXPECT_EQ(color_flags(widget, GTK_STATE_SELECTED), 0u);
        EXPECT_EQ(color_flags(widget, GTK_STATE_INSENSITIVE), 0u);
    }
    EXPECT_EQ(gtk_widget_get_style(record->outer)->bg[GTK_STATE_NORMAL].red, 0xCC00);
    EXPECT_EQ(record->ops->get_color(record, COLOR_BACKGROUND), 204);

    gadget_set_color(1, COLOR_BACKGROUND, -1);
    EXPECT_FALSE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    EXPECT_EQ(color_flags(record->widget, GTK_STATE_NORMAL), 0u);
    EXPECT_EQ(color_flags(record->outer, GTK_STATE_PRELIGHT), 0u);
    EXPECT_EQ(record->ops->get_color(record, COLOR_BACKGROUND), -1);
}

TEST_F(TextGadgetTest, ForegroundColourChangesOnlyTheLabel) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "coloured"), 0);
    GadgetRecord* record = gadget_lookup(1);
    gadget_set_color(1, COLOR_FOREGROUND, 0x3300FF);
    GtkRcStyle* style = gtk_widget_get_modifier_style(record->widget);
    EXPECT_EQ(color_flags(record->widget, GTK_STATE_ACTIVE), unsigned{GTK_RC_FG | GTK_RC_TEXT});
    EXPECT_EQ(style->fg[GTK_STATE_NORMAL].red, 0xFF00);
    EXPECT_EQ(style->fg[GTK_STATE_NORMAL].green, 0);
    EXPECT_EQ(style->text[GTK_STATE_PRELIGHT].blue, 0x3300);
    EXPECT_EQ(color_flags(record->outer, GTK_STATE_NORMAL), 0u);
    EXPECT_FALSE(gtk_event_box_get_visible_window(GTK_EVENT_BOX(record->outer)));
    // An attribute that is neither colour changes nothing.
    gadget_set_color(1, 3, 204);
    EXPECT_EQ(color_flags(record->widget, GTK_STATE_NORMAL), unsigned{GTK_RC_FG | GTK_RC_TEXT});
}

TEST_F(TextGadgetTest, ButtonsAndComboBoxesKeepTheirColours) {
    ASSERT_NE(button_gadget_create_plain(1, 10, 10, 100, 25, "button"), 0);
    ASSERT_NE(combo_box_gadget_create_plain(2, 10, 40, 100, 25), 0);
    for (int gadget : {1, 2}) {
        gadget_set_color(gadget, COLOR_BACKGROUND, 204);
        gadget_set_color(gadget, COLOR_FOREGROUND, 204);
        GadgetRecord* record = gadget_lookup(gadget);
        EXPECT_EQ(color_flags(record->widget, GTK_STATE_NORMAL), 0u);
        if (record->outer != nullptr) {
            EXPECT_EQ(color_flags(record->outer, GTK_STATE_NORMAL), 0u);
        }
    }
}

} // namespace
