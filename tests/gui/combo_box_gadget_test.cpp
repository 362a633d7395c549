#include "gui/combo_box_gadget.h"

#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "gui/window.h"
#include "tests/support/gadget_fixture.h"
#include "tests/support/gui_waits.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using ComboBoxGadgetTest = GadgetWindowTest;

int selected(object_number gadget) {
    return gtk_combo_box_get_active(GTK_COMBO_BOX(gadget_lookup(gadget)->widget));
}

std::vector<std::string> items_of(object_number gadget) {
    GadgetRecord* record = gadget_lookup(gadget);
    std::vector<std::string> items;
    for (int i = 0; i < record->ops->count_items(record); ++i) {
        items.emplace_back(record->ops->get_item_text(record, i, 0));
    }
    return items;
}

object_number combo_with(std::initializer_list<const char*> items, int flags = 0) {
    object_number gadget = combo_box_gadget_create(OBJECT_ANY, 20, 20, 200, 28, flags);
    for (const char* item : items) {
        gadget_add_item(gadget, -1, item);
    }
    return gadget;
}

TEST_F(ComboBoxGadgetTest, ItemsKeepCallOrderAndPositionZeroGoesFirst) {
    object_number gadget = combo_with({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"});
    EXPECT_EQ(items_of(gadget),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(gadget_add_item(gadget, 0, "first"), 1);
    EXPECT_EQ(gadget_add_item(gadget, 2, "third", nullptr), 1);
    EXPECT_EQ(gadget_add_item(gadget, -5, nullptr, nullptr, 0), 1);
    EXPECT_EQ(items_of(gadget), (std::vector<std::string>{"first", "/dev/ttyUSB0", "third",
                                                          "/dev/ttyUSB1", "/dev/ttyUSB2", ""}));
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, TextOfTheSelection) {
    object_number gadget = combo_with({"a", "b\xE9", "c"});
    EXPECT_STREQ(gadget_get_text(gadget), "");
    gadget_set_state(gadget, 1);
    EXPECT_STREQ(gadget_get_text(gadget), "b\xE9");
    gadget_set_state(gadget, -1);
    EXPECT_STREQ(gadget_get_text(gadget), "");
    // An index without an item selects nothing, as -1 does.
    for (int index : {3, -7}) {
        gadget_set_state(gadget, 2);
        gadget_set_state(gadget, index);
        EXPECT_EQ(selected(gadget), -1) << index;
    }
}

TEST_F(ComboBoxGadgetTest, SetTextSelectsTheFirstExactMatchOrNothing) {
    object_number gadget = combo_with({"one", "two", "three", "two"});
    gadget_set_text(gadget, "two");
    EXPECT_EQ(selected(gadget), 1);
    gadget_set_text(gadget, "Two");
    EXPECT_EQ(selected(gadget), -1);
    gadget_set_text(gadget, "three");
    gadget_set_text(gadget, "thre");
    EXPECT_EQ(selected(gadget), -1);
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, ProgramChangesQueueNothingAndAUserChoiceQueuesOneChange) {
    object_number gadget = combo_with({"a", "b", "c"});
    GtkWidget* combo = gadget_lookup(gadget)->widget;
    ASSERT_TRUE(gadget_shown(combo));
    gadget_events_until_quiet();

    gadget_set_state(gadget, 0);
    EXPECT_EQ(selected(gadget), 0);
    EXPECT_TRUE(gadget_events_until_quiet().empty());

    // The mouse wheel over the combo box picks the next item, as a user does.
    ASSERT_TRUE(gadget_user_click(combo, 5));
    std::vector<GadgetEvent> events = gadget_events_until_quiet();
    EXPECT_EQ(selected(gadget), 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].window, GADGET_TEST_WINDOW);
    EXPECT_EQ(events[0].detail, DETAIL_CHANGED);
}

TEST_F(ComboBoxGadgetTest, IdenticalChangesInARowLeaveOneEvent) {
    object_number gadget = combo_with({"a", "b"});
    GtkWidget* combo = gadget_lookup(gadget)->widget;
    ASSERT_TRUE(gadget_shown(combo));
    gadget_events_until_quiet();

    g_signal_emit_by_name(combo, "changed");
    g_signal_emit_by_name(combo, "changed");
    EXPECT_EQ(event_queue_length(), 1);
    ASSERT_EQ(event_wait(0), EVENT_GADGET);
    EXPECT_EQ(event_gadget(), gadget);
    EXPECT_EQ(event_detail(), DETAIL_CHANGED);
}

TEST_F(ComboBoxGadgetTest, EditableComboBoxShowsUnlistedTextInItsEntry) {
    object_number gadget = combo_with({"9600", "19200"}, COMBO_EDITABLE);
    GadgetRecord* record = gadget_lookup(gadget);
    GtkWidget* entry = gadget_kind_data<ComboBoxData>(record).entry;
    ASSERT_TRUE(GTK_IS_ENTRY(entry));
    // Only the two renderers of every combo box, not the entry combo's own.
    GList* renderers = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(record->widget));
    EXPECT_EQ(g_list_length(renderers), 2u);
    g_list_free(renderers);

    gadget_set_text(gadget, "19200");
    EXPECT_EQ(selected(gadget), 1);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "19200");
    gadget_set_text(gadget, "57600");
    EXPECT_STREQ(gadget_get_text(gadget), "57600");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, EntryFocusQueuesFocusEvents) {
    object_number gadget = combo_with({"a"}, COMBO_EDITABLE);
    object_number other = combo_with({"b"});
    ASSERT_TRUE(run_toolkit_until([&] { return gtk_window_is_active(GTK_WINDOW(window())); }));
    gadget_events_until_quiet();

    gtk_widget_grab_focus(gadget_kind_data<ComboBoxData>(gadget_lookup(gadget)).entry);
    std::vector<GadgetEvent> events = gadget_events_until_quiet();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].detail, DETAIL_FOCUS_IN);

    gtk_widget_grab_focus(gadget_lookup(other)->widget);
    events = gadget_events_until_quiet();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].detail, DETAIL_FOCUS_OUT);
}

TEST_F(ComboBoxGadgetTest, CaseFlagsConvertItemsSearchesAndTyping) {
    object_number lower = combo_with({"ABC /Dev"}, COMBO_EDITABLE | COMBO_LOWER_CASE);
    object_number upper = combo_with({"abc /Dev"}, COMBO_EDITABLE | COMBO_UPPER_CASE);
    object_number both = combo_with({"MiXed"}, COMBO_LOWER_CASE | COMBO_UPPER_CASE);
    EXPECT_EQ(items_of(lower)[0], "abc /dev");
    EXPECT_EQ(items_of(upper)[0], "ABC /DEV");
    EXPECT_EQ(items_of(both)[0], "mixed");
    gadget_set_text(both, "MIXED");
    EXPECT_EQ(selected(both), 0);

    // Bytes of longer characters are left whole.
    GtkEditable* entry = GTK_EDITABLE(gadget_kind_data<ComboBoxData>(gadget_lookup(lower)).entry);
    gtk_editable_delete_text(entry, 0, -1);
    gint position = 0;
    gtk_editable_insert_text(entry, "HeLLo \xC3\x89t\xC3\xA9", -1, &position);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "hello \xC3\x89t\xC3\xA9");
    EXPECT_EQ(position, 9);

    entry = GTK_EDITABLE(gadget_kind_data<ComboBoxData>(gadget_lookup(upper)).entry);
    gtk_editable_delete_text(entry, 0, -1);
    position = 0;
    gtk_editable_insert_text(entry, "abx", 2, &position);
    gtk_editable_insert_text(entry, "c", 1, &position);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "ABC");
}

TEST_F(ComboBoxGadgetTest, FontReachesTheItemsAndTheEntry) {
    object_number gadget = combo_with({"a"}, COMBO_EDITABLE);
    GadgetRecord* record = gadget_lookup(gadget);
    PangoFontDescription* font = pango_font_description_from_string("Sans 19");
    gadget_set_font(gadget, font);

    PangoFontDescription* renderer_font = nullptr;
    g_object_get(gadget_kind_data<ComboBoxData>(record).text_renderer, "font-desc", &renderer_font,
                 nullptr);
    EXPECT_EQ(pango_font_description_get_size(renderer_font), 19 * PANGO_SCALE);
    pango_font_description_free(renderer_font);
    GtkWidget* entry = gadget_kind_data<ComboBoxData>(record).entry;
    EXPECT_EQ(pango_font_description_get_size(gtk_widget_get_style(entry)->font_desc),
              19 * PANGO_SCALE);

    gadget_set_font(gadget, -1);
    EXPECT_EQ(g_object_get_data(G_OBJECT(entry), "wg_gadget_font"), nullptr);
    window_close(-1);
    pango_font_description_free(font);
}

} // namespace
