// Combo-box gadgets: a drop-down list of texts, optionally with a text entry.
// A user's choice queues an EVENT_GADGET with detail DETAIL_CHANGED; the entry
// of an editable combo box also queues DETAIL_FOCUS_IN and DETAIL_FOCUS_OUT.
// Made on the main thread in the calling thread's current gadget container;
// the generic operations of gui/gadget.h apply (gadget_set_text selects the
// first item with exactly that text, gadget_set_state selects by index).
#pragma once

#include "base/registry.h"

#include <cstdint>
#include <gtk/gtk.h>
#include <vector>

// Flags of combo_box_gadget_create.
inline constexpr int COMBO_EDITABLE = 1;   // with a text entry
inline constexpr int COMBO_LOWER_CASE = 2; // item and typed texts in lower case
inline constexpr int COMBO_UPPER_CASE = 4; // in upper case (ignored with COMBO_LOWER_CASE)
inline constexpr int COMBO_IMAGES = 8;     // items may carry an image

// Model columns: row i is item i.
inline constexpr int COMBO_COLUMN_DATA = 0;  // pointer-sized value of the item
inline constexpr int COMBO_COLUMN_TEXT = 1;  // UTF-8 text
inline constexpr int COMBO_COLUMN_IMAGE = 2; // GdkPixbuf

// The list record of one combo box, freed when the combo box is destroyed. The
// model goes with the combo box. Only the table-only item slots read the
// column fields; the list kinds that keep a selection here do not exist in
// this program.
struct ComboList {
    GtkListStore* model;
    void* selection;             // none for combo boxes
    int data_column;             // model column of the item data
    int text_column_count;       // text columns that callers address
    std::vector<int> column_map; // model column of each text column
};

// The combo box's kind words in its gadget record (gadget_kind_data).
struct ComboBoxData {
    std::intptr_t flags;            // creation flags
    GtkWidget* entry;               // the entry of an editable combo box, else none
    ComboList* list;                // freed by the kind's free_hook
    GtkCellRenderer* text_renderer; // the renderer that shows the item texts
};

// Puts a combo box of width x height at (x, y), with no items. number is
// explicit (a gadget with that number is replaced) or OBJECT_ANY. Returns the
// automatic number for OBJECT_ANY, the GtkComboBox for an explicit number, 0
// when no widget can be made or the thread has no gadget container. Main
// thread, holding gui_lock.
object_number combo_box_gadget_create(object_number number, int x, int y, int width, int height,
                                      int flags);

// combo_box_gadget_create with flags 0.
object_number combo_box_gadget_create_plain(object_number number, int x, int y, int width,
                                            int height);
