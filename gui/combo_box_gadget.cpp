#include "gui/combo_box_gadget.h"

#include "base/text_decoding.h"
#include "base/text_storage.h"
#include "gui/gadget.h"
#include "gui/text_encoding.h"

#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace {

// The owner of a list record. Registry records are plain memory, so the gadget
// record holds the list as a plain pointer from the constructor to free_hook,
// which takes it back into an owner that frees it.
using OwnedList = std::unique_ptr<ComboList>;

ComboBoxData& data_of(GadgetRecord* record) {
    return gadget_kind_data<ComboBoxData>(record);
}

int flags_of(GadgetRecord* record) {
    return static_cast<int>(data_of(record).flags);
}

GtkComboBox* combo_of(GadgetRecord* record) {
    return GTK_COMBO_BOX(record->widget);
}

GtkTreeModel* model_of(GadgetRecord* record) {
    return GTK_TREE_MODEL(data_of(record).list->model);
}

// The case the flags ask for. Only single-byte letters change: the text is
// UTF-8 here, and a byte of a longer sequence read as a letter of an 8-bit
// locale would break the character.
std::string converted_case(std::string_view text, int flags) {
    std::string result(text);
    bool lower = (flags & COMBO_LOWER_CASE) != 0;
    bool upper = !lower && (flags & COMBO_UPPER_CASE) != 0;
    if (!lower && !upper) {
        return result;
    }
    for (char& byte : result) {
        auto value = static_cast<unsigned char>(byte);
        if (value >= 0x80) {
            continue;
        }
        if (lower && std::isupper(value) != 0) {
            byte = static_cast<char>(std::tolower(value));
        } else if (upper && std::islower(value) != 0) {
            byte = static_cast<char>(std::toupper(value));
        }
    }
    return result;
}

bool row_at(GadgetRecord* record, int index, GtkTreeIter* iter) {
    return index >= 0 && gtk_tree_model_iter_nth_child(model_of(record), iter, nullptr, index);
}

int row_count(GadgetRecord* record) {
    return gtk_tree_model_iter_n_children(model_of(record), nullptr);
}

void free_hook(GadgetRecord* record) {
    OwnedList list(std::exchange(data_of(record).list, nullptr));
}

void set_state(GadgetRecord* record, int index) {
    // An index without a row selects nothing, as -1 does.
    GtkTreeIter iter;
    gtk_combo_box_set_active(combo_of(record), row_at(record, index, &iter) ? index : -1);
}

const char* get_text(GadgetRecord* record) {
    if (GtkWidget* entry = data_of(record).entry; entry != nullptr) {
        return text_from_toolkit(gtk_entry_get_text(GTK_ENTRY(entry)));
    }
    GtkTreeIter iter;
    if (!gtk_combo_box_get_active_iter(combo_of(record), &iter)) {
        return text_result("");
    }
    gchar* text = nullptr;
    gtk_tree_model_get(model_of(record), &iter, COMBO_COLUMN_TEXT, &text, -1);
    ToolkitText owned(text);
    return text_from_toolkit(owned.get());
}

void set_text(GadgetRecord* record, const char* text) {
    std::string wanted = converted_case(text, flags_of(record));
    GtkTreeModel* model = model_of(record);
    GtkTreeIter iter;
    int row = 0;
    for (gboolean valid = gtk_tree_model_get_iter_first(model, &iter); valid;
         valid = gtk_tree_model_iter_next(model, &iter), ++row) {
        gchar* item = nullptr;
        gtk_tree_model_get(model, &iter, COMBO_COLUMN_TEXT, &item, -1);
        ToolkitText owned(item);
        if (item != nullptr && wanted == item) {
            gtk_combo_box_set_active(combo_of(record), row);
            return;
        }
    }
    if (GtkWidget* entry = data_of(record).entry; entry != nullptr) {
        gtk_entry_set_text(GTK_ENTRY(entry), wanted.c_str());
    } else {
        gtk_combo_box_set_active(combo_of(record), -1);
    }
}

int add_item(GadgetRecord* record, int position, const char* text, GdkPixbuf* image) {
    std::string item = converted_case(text, flags_of(record));
    if (position < 0) {
        position = row_count(record);
    }
    GtkListStore* store = data_of(record).list->model;
    GtkTreeIter iter;
    gtk_list_store_insert(store, &iter, position);
    gtk_list_store_set(store, &iter, COMBO_COLUMN_TEXT, item.c_str(), COMBO_COLUMN_DATA, nullptr,
                       -1);
    if ((flags_of(record) & COMBO_IMAGES) != 0 && image != nullptr) {
        gtk_list_store_set(store, &iter, COMBO_COLUMN_IMAGE, image, -1);
    }
    return 1;
}

void set_font(GadgetRecord* record, PangoFontDescription* font) {
    widget_set_font(record->widget, font);
    // The items are drawn by the cell renderer, which does not follow the
    // combo box's own font.
    g_object_set(data_of(record).text_renderer, "font-desc", font, nullptr);
    if (GtkWidget* entry = data_of(record).entry; entry != nullptr) {
        widget_set_font(entry, font);
    }
}

// Table-only slots: the kind's table has them, nothing in this program calls them.

// The model column behind a text column callers address; -1 when refused.
int model_column_of(GadgetRecord* record, int column) {
    const ComboList* list = data_of(record).list;
    if (column < 0 || column >= list->text_column_count) {
        return -1;
    }
    return list->column_map[static_cast<std::size_t>(column)];
}

void activate(GadgetRecord* record) {
    GtkWidget* entry = data_of(record).entry;
    gtk_widget_grab_focus(entry != nullptr ? entry : record->widget);
}

int get_state(GadgetRecord* record) {
    return gtk_combo_box_get_active(combo_of(record));
}

void remove_item(GadgetRecord* record, int index) {
    GtkTreeIter iter;
    if (row_at(record, index, &iter)) {
        gtk_list_store_remove(data_of(record).list->model, &iter);
    }
}

void clear_items(GadgetRecord* record) {
    gtk_list_store_clear(data_of(record).list->model);
    if (GtkWidget* entry = data_of(record).entry; entry != nullptr) {
        gtk_entry_set_text(GTK_ENTRY(entry), "");
    }
}

int count_items(GadgetRecord* record) {
    return row_count(record);
}

const char* get_item_text(GadgetRecord* record, int index, int column) {
    int model_column = model_column_of(record, column);
    GtkTreeIter iter;
    if (model_column < 0 || !row_at(record, index, &iter)) {
        return text_result("");
    }
    gchar* text = nullptr;
    gtk_tree_model_get(model_of(record), &iter, model_column, &text, -1);
    ToolkitText owned(text);
    return text_from_toolkit(owned.get());
}

void set_item_text(GadgetRecord* record, int index, const char* text, int column) {
    int model_column = model_column_of(record, column);
    GtkTreeIter iter;
    if (model_column < 0 || !row_at(record, index, &iter)) {
        return;
    }
    std::string item = converted_case(text, flags_of(record));
    gtk_list_store_set(data_of(record).list->model, &iter, model_column, item.c_str(), -1);
}

void set_item_data(GadgetRecord* record, int index, std::intptr_t value) {
    GtkTreeIter iter;
    if (row_at(record, index, &iter)) {
        gtk_list_store_set(data_of(record).list->model, &iter, data_of(record).list->data_column,
                           reinterpret_cast<gpointer>(value), -1);
    }
}

std::intptr_t get_item_data(GadgetRecord* record, int index) {
    GtkTreeIter iter;
    if (!row_at(record, index, &iter)) {
        return 0;
    }
    gpointer value = nullptr;
    gtk_tree_model_get(model_of(record), &iter, data_of(record).list->data_column, &value, -1);
    return reinterpret_cast<std::intptr_t>(value);
}

PangoFontDescription* get_font(GadgetRecord* record) {
    return widget_get_font(record->widget);
}

void set_item_image(GadgetRecord* record, int index, GdkPixbuf* image) {
    GtkTreeIter iter;
    if ((flags_of(record) & COMBO_IMAGES) != 0 && row_at(record, index, &iter)) {
        gtk_list_store_set(data_of(record).list->model, &iter, COMBO_COLUMN_IMAGE, image, -1);
    }
}

constexpr GadgetOps combo_ops{
    .kind = KIND_COMBO_BOX,
    .activate = activate,
    .free_hook = free_hook,
    .get_state = get_state,
    .set_state = set_state,
    .get_text = get_text,
    .set_text = set_text,
    .add_item = add_item,
    .remove_item = remove_item,
    .clear_items = clear_items,
    .count_items = count_items,
    .get_item_text = get_item_text,
    .set_item_text = set_item_text,
    .set_font = set_font,
    .set_item_data = set_item_data,
    .get_item_data = get_item_data,
    .get_font = get_font,
    .set_item_image = set_item_image,
};

// Typed text goes in converted: the filter inserts the converted text itself,
// blocked so it does not see its own insertion, and stops the original.
void insert_converted(GtkEditable* editable, const gchar* text, gint length, gint* position,
                      int flags, GCallback self) {
    std::string converted =
        converted_case(length < 0 ? std::string_view(text)
                                  : std::string_view(text, static_cast<std::size_t>(length)),
                       flags);
    g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(self), nullptr);
    gtk_editable_insert_text(editable, converted.data(), static_cast<gint>(converted.size()),
                             position);
    g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(self), nullptr);
    g_signal_stop_emission_by_name(editable, "insert-text");
}

void lower_case_filter(GtkEditable* editable, gchar* text, gint length, gint* position, gpointer) {
    insert_converted(editable, text, length, position, COMBO_LOWER_CASE,
                     G_CALLBACK(lower_case_filter));
}

void upper_case_filter(GtkEditable* editable, gchar* text, gint length, gint* position, gpointer) {
    insert_converted(editable, text, length, position, COMBO_UPPER_CASE,
                     G_CALLBACK(upper_case_filter));
}

GtkWidget* new_combo(GtkListStore* store, int flags) {
    if ((flags & COMBO_EDITABLE) != 0) {
        return gtk_combo_box_entry_new_with_model(GTK_TREE_MODEL(store), COMBO_COLUMN_TEXT);
    }
    return gtk_combo_box_new_with_model(GTK_TREE_MODEL(store));
}

// Every combo box shows an image column (empty without COMBO_IMAGES) and the
// text column; an entry combo's own text renderer goes first. Returns the text
// renderer.
GtkCellRenderer* add_renderers(GtkWidget* combo, int flags) {
    GtkCellLayout* layout = GTK_CELL_LAYOUT(combo);
    if ((flags & COMBO_EDITABLE) != 0) {
        gtk_cell_layout_clear(layout);
    }
    GtkCellRenderer* image_renderer = gtk_cell_renderer_pixbuf_new();
    gtk_cell_layout_pack_start(layout, image_renderer, FALSE);
    gtk_cell_layout_set_attributes(layout, image_renderer, "pixbuf", COMBO_COLUMN_IMAGE, nullptr);
    GtkCellRenderer* text_renderer = gtk_cell_renderer_text_new();
    gtk_cell_layout_pack_start(layout, text_renderer, TRUE);
    gtk_cell_layout_set_attributes(layout, text_renderer, "text", COMBO_COLUMN_TEXT, nullptr);
    return text_renderer;
}

// A combo box's widgets before it has a number.
struct ComboWidgets {
    GtkWidget* box;
    GtkWidget* combo;
    GtkListStore* store; // owned by the combo box
    GtkCellRenderer* text_renderer;
};

// The event box, the model and the combo box that shows it; false, leaving
// nothing behind, when one of them cannot be made.
bool make_widgets(int flags, ComboWidgets* widgets) {
    GtkWidget* box = gtk_event_box_new();
    if (box == nullptr) {
        return false;
    }
    GtkListStore* store = gtk_list_store_new(3, G_TYPE_POINTER, G_TYPE_STRING, GDK_TYPE_PIXBUF);
    if (store == nullptr) {
        gadget_discard_widget(box);
        return false;
    }
    GtkWidget* combo = new_combo(store, flags);
    // The combo box owns the model from here on.
    g_object_unref(store);
    if (combo == nullptr) {
        gadget_discard_widget(box);
        return false;
    }
    *widgets = ComboWidgets{box, combo, store, add_renderers(combo, flags)};
    return true;
}

void put_widgets(const ComboWidgets& widgets, GtkFixed* container, int x, int y, int width,
                 int height) {
    gtk_widget_set_size_request(widgets.combo, width, height);
    gtk_container_add(GTK_CONTAINER(widgets.box), widgets.combo);
    gtk_fixed_put(container, widgets.box, x, y);
    gtk_widget_show_all(widgets.box);
}

OwnedList new_list(GtkListStore* store) {
    auto list = std::make_unique<ComboList>();
    list->model = store;
    list->data_column = COMBO_COLUMN_DATA;
    list->text_column_count = 1;
    list->column_map = {COMBO_COLUMN_TEXT};
    return list;
}

// The entry of an editable combo box carries the gadget's number, filters
// typed text into the flags' case and reports its focus. Returns the entry.
GtkWidget* connect_entry(GtkWidget* combo, object_number number, int flags) {
    GtkWidget* entry = gtk_bin_get_child(GTK_BIN(combo));
    gpointer data = gadget_number_to_data(number);
    g_object_set_data(G_OBJECT(entry), "wg_id", gadget_number_to_data(number + 1));
    if ((flags & COMBO_LOWER_CASE) != 0) {
        g_signal_connect(entry, "insert-text", G_CALLBACK(lower_case_filter), nullptr);
    } else if ((flags & COMBO_UPPER_CASE) != 0) {
        g_signal_connect(entry, "insert-text", G_CALLBACK(upper_case_filter), nullptr);
    }
    g_signal_connect(entry, "focus-in-event", G_CALLBACK(gadget_focus_in_handler), data);
    g_signal_connect(entry, "focus-out-event", G_CALLBACK(gadget_focus_out_handler), data);
    g_signal_connect(entry, "activate", G_CALLBACK(gadget_activate_handler), data);
    return entry;
}

} // namespace

object_number combo_box_gadget_create(object_number number, int x, int y, int width, int height,
                                      int flags) {
    GtkFixed* container = gadget_container();
    if (container == nullptr) {
        return 0;
    }
    ComboWidgets widgets{};
    if (!make_widgets(flags, &widgets)) {
        return 0;
    }
    object_number assigned = 0;
    GadgetRecord* record = gadget_allocate(number, &assigned);
    if (record == nullptr) {
        gadget_discard_widget(widgets.combo);
        gadget_discard_widget(widgets.box);
        return 0;
    }
    g_signal_connect(widgets.combo, "changed", G_CALLBACK(gadget_changed_handler),
                     gadget_number_to_data(assigned));
    put_widgets(widgets, container, x, y, width, height);

    ComboBoxData& data = data_of(record);
    data.flags = flags;
    data.list = new_list(widgets.store).release();
    data.text_renderer = widgets.text_renderer;
    if ((flags & COMBO_EDITABLE) != 0) {
        data.entry = connect_entry(widgets.combo, assigned, flags);
    }
    gadget_fill(record, widgets.combo, widgets.box, &combo_ops);
    gadget_register(record, assigned);
    gadget_apply_default_font(record);
    return gadget_created(number, assigned, widgets.combo);
}

object_number combo_box_gadget_create_plain(object_number number, int x, int y, int width,
                                            int height) {
    return combo_box_gadget_create(number, x, y, width, height, 0);
}
