#include "gui/combo_box_gadget.h"

#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "gui/window.h"
#include "tests/support/gadget_fixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using ComboBoxGadgetTest = GadgetWindowTest;

GtkComboBox* combo_of(object_number gadget) {
    return GTK_COMBO_BOX(gadget_lookup(gadget)->widget);
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

TEST_F(ComboBoxGadgetTest, ModelHasDataTextAndImageColumns) {
    object_number gadget = combo_with({});
    ASSERT_LT(gadget, -1);
    GadgetRecord* record = gadget_lookup(gadget);
    EXPECT_EQ(record->ops->kind, KIND_COMBO_BOX);
    ASSERT_TRUE(GTK_IS_EVENT_BOX(record->outer));
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(record->outer)), record->widget);
    GtkTreeModel* model = gtk_combo_box_get_model(combo_of(gadget));
    EXPECT_EQ(GTK_TREE_MODEL(record->kind.combo.list->model), model);
    ASSERT_EQ(gtk_tree_model_get_n_columns(model), 3);
    EXPECT_EQ(gtk_tree_model_get_column_type(model, COMBO_COLUMN_DATA), G_TYPE_POINTER);
    EXPECT_EQ(gtk_tree_model_get_column_type(model, COMBO_COLUMN_TEXT), G_TYPE_STRING);
    EXPECT_EQ(gtk_tree_model_get_column_type(model, COMBO_COLUMN_IMAGE), GDK_TYPE_PIXBUF);
    EXPECT_EQ(record->kind.combo.list->column_map, std::vector<int>{COMBO_COLUMN_TEXT});
    EXPECT_EQ(record->kind.combo.entry, nullptr);
    GList* renderers = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(record->widget));
    ASSERT_EQ(g_list_length(renderers), 2u);
    EXPECT_TRUE(GTK_IS_CELL_RENDERER_PIXBUF(g_list_nth_data(renderers, 0)));
    EXPECT_EQ(g_list_nth_data(renderers, 1), record->kind.combo.text_renderer);
    g_list_free(renderers);
}

TEST_F(ComboBoxGadgetTest, ItemsKeepCallOrderAndPositionZeroGoesFirst) {
    object_number gadget = combo_with({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"});
    EXPECT_EQ(items_of(gadget),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(gadget_add_item(gadget, 0, "first"), 1);
    EXPECT_EQ(gadget_add_item(gadget, 2, "third", nullptr), 1);
    EXPECT_EQ(gadget_add_item(gadget, -5, "last", nullptr, 0), 1);
    EXPECT_EQ(items_of(gadget), (std::vector<std::string>{"first", "/dev/ttyUSB0", "third",
                                                          "/dev/ttyUSB1", "/dev/ttyUSB2", "last"}));
    EXPECT_EQ(gadget_add_item(gadget, 1, nullptr), 1);
    EXPECT_EQ(items_of(gadget)[1], "");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, TextOfTheSelection) {
    object_number gadget = combo_with({"a", "b\xE9", "c"});
    EXPECT_STREQ(gadget_get_text(gadget), "");
    gadget_set_state(gadget, 1);
    EXPECT_STREQ(gadget_get_text(gadget), "b\xE9");
    gadget_set_state(gadget, -1);
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), -1);
    EXPECT_STREQ(gadget_get_text(gadget), "");
    // An index without an item selects nothing, as -1 does.
    gadget_set_state(gadget, 2);
    gadget_set_state(gadget, 3);
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), -1);
    gadget_set_state(gadget, 2);
    gadget_set_state(gadget, -7);
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), -1);
}

TEST_F(ComboBoxGadgetTest, SetTextSelectsTheFirstExactMatchOrNothing) {
    object_number gadget = combo_with({"one", "two", "three", "two"});
    gadget_set_text(gadget, "two");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), 1);
    gadget_set_text(gadget, "Two");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), -1);
    gadget_set_text(gadget, "three");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), 2);
    gadget_set_text(gadget, "thre");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), -1);
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, ProgramChangesQueueNothingAndAUserChoiceQueuesOneChange) {
    object_number gadget = combo_with({"a", "b", "c"});
    GtkWidget* combo = gadget_lookup(gadget)->widget;
    ASSERT_TRUE(gadget_run_until([&] { return gtk_widget_get_mapped(combo); }));
    gadget_events_until_quiet();

    gadget_set_state(gadget, 0);
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(combo)), 0);
    EXPECT_TRUE(gadget_events_until_quiet().empty());

    // The mouse wheel over the combo box picks the next item, as a user does.
    ASSERT_TRUE(gadget_user_click(combo, 5));
    std::vector<GadgetEvent> events = gadget_events_until_quiet();
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(combo)), 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].window, GADGET_TEST_WINDOW);
    EXPECT_EQ(events[0].detail, DETAIL_CHANGED);
    EXPECT_STREQ(gadget_get_text(gadget), "b");
}

TEST_F(ComboBoxGadgetTest, IdenticalChangesInARowLeaveOneEvent) {
    object_number gadget = combo_with({"a", "b"});
    GtkWidget* combo = gadget_lookup(gadget)->widget;
    ASSERT_TRUE(gadget_run_until([&] { return gtk_widget_get_mapped(combo); }));
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
    ASSERT_TRUE(GTK_IS_COMBO_BOX_ENTRY(record->widget));
    GtkWidget* entry = record->kind.combo.entry;
    ASSERT_TRUE(GTK_IS_ENTRY(entry));
    EXPECT_EQ(g_object_get_data(G_OBJECT(entry), "wg_id"), gadget_number_to_data(gadget + 1));
    // Only the two renderers of every combo box, not the entry combo's own.
    GList* renderers = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(record->widget));
    EXPECT_EQ(g_list_length(renderers), 2u);
    g_list_free(renderers);

    gadget_set_text(gadget, "19200");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(gadget)), 1);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "19200");
    gadget_set_text(gadget, "57600");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "57600");
    EXPECT_STREQ(gadget_get_text(gadget), "57600");

    record->ops->clear_items(record);
    EXPECT_EQ(record->ops->count_items(record), 0);
    EXPECT_STREQ(gadget_get_text(gadget), "");
}

TEST_F(ComboBoxGadgetTest, EntryFocusQueuesFocusEvents) {
    object_number gadget = combo_with({"a"}, COMBO_EDITABLE);
    object_number other = combo_with({"b"});
    GadgetRecord* record = gadget_lookup(gadget);
    ASSERT_TRUE(gadget_run_until([&] { return gtk_window_is_active(GTK_WINDOW(window())); }));
    gadget_events_until_quiet();

    record->ops->activate(record);
    std::vector<GadgetEvent> events = gadget_events_until_quiet();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].detail, DETAIL_FOCUS_IN);

    GadgetRecord* other_record = gadget_lookup(other);
    other_record->ops->activate(other_record);
    events = gadget_events_until_quiet();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, gadget);
    EXPECT_EQ(events[0].detail, DETAIL_FOCUS_OUT);

    // Enter in the entry is no event.
    g_signal_emit_by_name(record->kind.combo.entry, "activate");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(ComboBoxGadgetTest, CaseFlagsConvertItemsSearchesAndTyping) {
    object_number lower = combo_with({"ABC /Dev"}, COMBO_EDITABLE | COMBO_LOWER_CASE);
    object_number upper = combo_with({"abc /Dev"}, COMBO_EDITABLE | COMBO_UPPER_CASE);
    object_number both = combo_with({"MiXed"}, COMBO_LOWER_CASE | COMBO_UPPER_CASE);
    EXPECT_EQ(items_of(lower)[0], "abc /dev");
    EXPECT_EQ(items_of(upper)[0], "ABC /DEV");
    EXPECT_EQ(items_of(both)[0], "mixed");

    gadget_set_text(both, "MIXED");
    EXPECT_EQ(gtk_combo_box_get_active(combo_of(both)), 0);

    GtkEditable* entry = GTK_EDITABLE(gadget_lookup(lower)->kind.combo.entry);
    gtk_editable_delete_text(entry, 0, -1);
    gint position = 0;
    gtk_editable_insert_text(entry, "HeLLo \xC3\x89t\xC3\xA9", -1, &position);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "hello \xC3\x89t\xC3\xA9");
    EXPECT_EQ(position, 9);

    entry = GTK_EDITABLE(gadget_lookup(upper)->kind.combo.entry);
    gtk_editable_delete_text(entry, 0, -1);
    position = 0;
    gtk_editable_insert_text(entry, "ab", 2, &position);
    gtk_editable_insert_text(entry, "c", 1, &position);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "ABC");
}

TEST_F(ComboBoxGadgetTest, ItemOperationsOfTheKind) {
    object_number gadget = combo_with({"a", "b", "c"}, COMBO_IMAGES);
    GadgetRecord* record = gadget_lookup(gadget);
    const GadgetOps* ops = record->ops;

    ops->set_item_text(record, 1, "B", 0);
    ops->set_item_text(record, 1, "refused", 1);
    EXPECT_STREQ(ops->get_item_text(record, 1, 0), "B");
    EXPECT_STREQ(ops->get_item_text(record, 1, 1), "");
    EXPECT_STREQ(ops->get_item_text(record, 9, 0), "");

    ops->set_item_data(record, 2, 4711);
    EXPECT_EQ(ops->get_item_data(record, 2), 4711);
    EXPECT_EQ(ops->get_item_data(record, 0), 0);

    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
    ops->set_item_image(record, 0, image);
    EXPECT_EQ(gadget_add_item(gadget, -1, "d", image), 1);
    GtkTreeModel* model = GTK_TREE_MODEL(record->kind.combo.list->model);
    for (int row : {0, 3}) {
        GtkTreeIter iter;
        ASSERT_TRUE(gtk_tree_model_iter_nth_child(model, &iter, nullptr, row));
        GdkPixbuf* stored = nullptr;
        gtk_tree_model_get(model, &iter, COMBO_COLUMN_IMAGE, &stored, -1);
        EXPECT_EQ(stored, image) << row;
        if (stored != nullptr) {
            g_object_unref(stored);
        }
    }
    g_object_unref(image);

    gadget_set_state(gadget, 2);
    EXPECT_EQ(ops->get_state(record), 2);
    ops->remove_item(record, 0);
    ops->remove_item(record, 17);
    EXPECT_EQ(items_of(gadget), (std::vector<std::string>{"B", "c", "d"}));
    EXPECT_EQ(ops->get_state(record), 1);
}

TEST_F(ComboBoxGadgetTest, ImagesNeedTheImagesFlag) {
    object_number gadget = combo_with({});
    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
    gadget_add_item(gadget, -1, "a", image);
    GadgetRecord* record = gadget_lookup(gadget);
    GtkTreeIter iter;
    GtkTreeModel* model = GTK_TREE_MODEL(record->kind.combo.list->model);
    ASSERT_TRUE(gtk_tree_model_get_iter_first(model, &iter));
    GdkPixbuf* stored = nullptr;
    gtk_tree_model_get(model, &iter, COMBO_COLUMN_IMAGE, &stored, -1);
    EXPECT_EQ(stored, nullptr);
    g_object_unref(image);
}

TEST_F(ComboBoxGadgetTest, FontReachesTheItemsAndTheEntry) {
    object_number gadget = combo_with({"a"}, COMBO_EDITABLE);
    GadgetRecord* record = gadget_lookup(gadget);
    PangoFontDescription* font = pango_font_description_from_string("Sans 19");
    gadget_set_font(gadget, font);

    EXPECT_EQ(record->ops->get_font(record), font);
    PangoFontDescription* renderer_font = nullptr;
    g_object_get(record->kind.combo.text_renderer, "font-desc", &renderer_font, nullptr);
    EXPECT_EQ(pango_font_description_get_size(renderer_font), 19 * PANGO_SCALE);
    pango_font_description_free(renderer_font);
    EXPECT_EQ(
        pango_font_description_get_size(gtk_widget_get_style(record->kind.combo.entry)->font_desc),
        19 * PANGO_SCALE);

    gadget_set_font(gadget, -1);
    EXPECT_EQ(g_object_get_data(G_OBJECT(record->kind.combo.entry), "wg_gadget_font"), nullptr);
    window_close(-1);
    pango_font_description_free(font);
}

} // namespace
