// The gadget core: numbered controls placed at fixed positions in a window's
// gadget area. Every gadget kind (text, button, combo box) fills a gadget
// record and points it at the kind's constant operation table; the generic
// operations below dispatch through that table, and a slot the kind leaves
// empty makes the operation do nothing.
//
// Threads and locks. The main thread creates gadgets and calls every operation
// while it holds gui_lock. A worker thread may call gadget_set_text,
// gadget_get_text, gadget_add_item, gadget_set_state, gadget_set_color and
// gadget_set_font for one gadget: these take gui_lock themselves (flushing the
// display before they release it) and look the gadget up again once they hold
// it, so a gadget destroyed while the worker waited for the lock is never
// touched. Lock order: gui_lock, then the gadget table's lock or the event
// queue's mutex; gui_lock is never taken while either is held.
#pragma once

#include "base/registry.h"

#include <cstddef>
#include <cstdint>
#include <gtk/gtk.h>
#include <new>
#include <type_traits>

// Kind codes of the operation tables.
inline constexpr int KIND_BUTTON = 1;
inline constexpr int KIND_TEXT = 3;
inline constexpr int KIND_COMBO_BOX = 8;

// Details of gadget events (the detail word of an EVENT_GADGET).
inline constexpr int DETAIL_CLICKED = 0;
inline constexpr int DETAIL_FOCUS_IN = 256;
inline constexpr int DETAIL_FOCUS_OUT = 512;
inline constexpr int DETAIL_CHANGED = 768;

// Colour attributes of gadget_set_color. Colours are 0xBBGGRR; -1 is the
// theme's colour.
inline constexpr int COLOR_FOREGROUND = 1;
inline constexpr int COLOR_BACKGROUND = 2;

struct GadgetOps;

inline constexpr int GADGET_KIND_WORDS = 4;

// One gadget, kept in the gadget table. widget is non-null for as long as the
// gadget exists (the table treats a record whose first word is null as free).
struct GadgetRecord {
    GtkWidget* widget;    // label, button or combo box
    GtkWidget* outer;     // the widget put into the gadget area when not widget
    const GadgetOps* ops; // the kind's table
    // Words whose meaning belongs to the kind alone (gadget_kind_data); the
    // core never reads them. Buttons use none.
    alignas(void*) std::byte kind_words[GADGET_KIND_WORDS * sizeof(void*)];
};

// The record's kind words as the kind's own struct (plain data of at most four
// words). Zero until the kind writes it; only the kind's code reads it, with
// gui_lock held.
template <typename KindData> KindData& gadget_kind_data(GadgetRecord* record) {
    static_assert(std::is_trivially_copyable_v<KindData>);
    static_assert(sizeof(KindData) <= sizeof(GadgetRecord::kind_words));
    static_assert(alignof(KindData) <= alignof(void*));
    return *std::launder(reinterpret_cast<KindData*>(record->kind_words));
}

// A kind's operation table: the kind code, then 32 slots in a fixed order. A
// null slot means the kind does not support the operation. Texts handed to a
// slot are UTF-8; texts a slot returns are program texts in the calling
// thread's text storage. Slots run with gui_lock held.
//
// The operations below call only free_hook, set_state, get_text, set_text,
// add_item, add_item_ex, set_font and set_color. The other slots (activate,
// get_state, the item slots other than add_item, get_color, get_font) complete
// the table that every kind of this layer has: the kinds fill them, nothing in
// this program calls them.
struct GadgetOps {
    int kind = 0;
    void (*activate)(GadgetRecord* record) = nullptr;
    void (*free_hook)(GadgetRecord* record) = nullptr;
    int (*get_state)(GadgetRecord* record) = nullptr;
    void (*set_state)(GadgetRecord* record, int state) = nullptr;
    const char* (*get_text)(GadgetRecord* record) = nullptr;
    void (*set_text)(GadgetRecord* record, const char* text) = nullptr;
    int (*add_item)(GadgetRecord* record, int position, const char* text,
                    GdkPixbuf* image) = nullptr;
    int (*add_item_ex)(GadgetRecord* record, int position, const char* text, GdkPixbuf* image,
                       int flags) = nullptr;
    void (*remove_item)(GadgetRecord* record, int index) = nullptr;
    void (*clear_items)(GadgetRecord* record) = nullptr;
    void (*reserved_10)() = nullptr;
    int (*count_items)(GadgetRecord* record) = nullptr;
    void (*reserved_12)() = nullptr;
    void (*reserved_13)() = nullptr;
    const char* (*get_item_text)(GadgetRecord* record, int index, int column) = nullptr;
    void (*set_item_text)(GadgetRecord* record, int index, const char* text, int column) = nullptr;
    void (*set_font)(GadgetRecord* record, PangoFontDescription* font) = nullptr;
    void (*reserved_17)() = nullptr;
    void (*reserved_18)() = nullptr;
    void (*reserved_19)() = nullptr;
    void (*reserved_20)() = nullptr;
    void (*reserved_21)() = nullptr;
    void (*reserved_22)() = nullptr;
    void (*reserved_23)() = nullptr;
    void (*set_color)(GadgetRecord* record, int attribute, int color) = nullptr;
    int (*get_color)(GadgetRecord* record, int attribute) = nullptr;
    void (*reserved_26)() = nullptr;
    void (*reserved_27)() = nullptr;
    void (*set_item_data)(GadgetRecord* record, int index, std::intptr_t value) = nullptr;
    std::intptr_t (*get_item_data)(GadgetRecord* record, int index) = nullptr;
    PangoFontDescription* (*get_font)(GadgetRecord* record) = nullptr;
    void (*set_item_image)(GadgetRecord* record, int index, GdkPixbuf* image) = nullptr;
};

// The kind code, then exactly 32 slots.
static_assert(offsetof(GadgetOps, set_item_image) - offsetof(GadgetOps, activate) ==
              31 * sizeof(void (*)()));

// Start-up, main thread, after toolkit_start: the gadget table (growth 16,
// release gadget_release) and the per-thread gadget state. Later calls do
// nothing.
void gadget_init();

// For constructors: the record for the number, cleared (an explicit number in
// use is released first, which destroys the old gadget's widgets). *assigned
// receives the number the gadget goes by: the given one, or the automatic one
// for OBJECT_ANY. None when the number is refused or memory is short.
// Main thread.
GadgetRecord* gadget_allocate(object_number number, object_number* assigned);

// For constructors: the calling thread's current gadget container, or none
// when the thread has no window's gadget area to put gadgets in.
GtkFixed* gadget_container();

// For constructors: fills the record's widgets and table under the table's
// lock, so a worker's look-up never sees half a record. The kind writes its
// words before (the record counts as absent until widget is set). Main thread.
void gadget_fill(GadgetRecord* record, GtkWidget* widget, GtkWidget* outer, const GadgetOps* ops);

// For constructors: what a constructor returns once the gadget is registered:
// the automatic number for OBJECT_ANY, the main widget for an explicit number.
object_number gadget_created(object_number requested, object_number assigned, GtkWidget* widget);

// For constructors that fail after making widgets: sinks and destroys a widget
// that was never put into a container.
void gadget_discard_widget(GtkWidget* widget);

// Last step of every constructor, once widget, outer and ops are filled:
// realizes the main widget, applies the thread's default gadget font, connects
// the destroy handler that releases the number, stores wg_id = number + 1 on
// the main widget and runs the toolkit's pending work. Main thread.
void gadget_register(GadgetRecord* record, object_number number);

// The live record, or none. The record stays valid only while the caller holds
// gui_lock (records are released by the destroy handler, which runs under it).
GadgetRecord* gadget_lookup(object_number gadget);

// The table's release operation. -1 releases every gadget; any other number
// destroys that gadget's outer widget (or its main widget when it has none),
// whose destroy handler releases the number. Nothing for an absent gadget.
// Main thread.
void gadget_release(object_number gadget);

// Sets the gadget's text; null counts as the empty text. Events the change
// raises are suppressed. Any thread; takes gui_lock.
void gadget_set_text(object_number gadget, const char* text);

// The gadget's text as a program text in the calling thread's text storage;
// the empty text for an absent gadget or a kind without text. Any thread;
// takes gui_lock.
const char* gadget_get_text(object_number gadget);

// Adds an item at position (-1 or any negative value appends). Returns the
// kind's result (1 for a combo box), 0 for an absent gadget or a kind without
// items. Events the change raises are suppressed. Any thread; takes gui_lock
// (also for a kind without items).
int gadget_add_item(object_number gadget, int position, const char* text, GdkPixbuf* image,
                    int flags);
int gadget_add_item(object_number gadget, int position, const char* text, GdkPixbuf* image);
int gadget_add_item(object_number gadget, int position, const char* text);

// A combo box selects the item with that index (-1: none); a two-state button
// is pressed (non-zero) or released (0); a push button does nothing. Events
// the change raises are suppressed. Any thread; takes gui_lock.
void gadget_set_state(object_number gadget, int state);

// 0 makes the gadget's main widget sensitive, any other value insensitive.
// Main thread; takes no gui_lock.
void gadget_disable(object_number gadget, int disable);

// COLOR_FOREGROUND or COLOR_BACKGROUND of a text gadget; -1 gives the theme's
// colour back. Other kinds ignore it. Any thread; takes gui_lock.
void gadget_set_color(object_number gadget, int attribute, int color);

// The font of one gadget (any thread; takes gui_lock), or, for gadget -1, the
// calling thread's default gadget font for the gadgets it creates afterwards
// (takes no lock; existing gadgets keep theirs). The font is not copied: it
// must outlive the gadgets that use it. The int form takes -1 or 0: the
// theme's font.
void gadget_set_font(object_number gadget, PangoFontDescription* font);
void gadget_set_font(object_number gadget, int theme_font);

// gadget_set_font without taking gui_lock, for callers that hold it.
void gadget_set_font_unlocked(object_number gadget, PangoFontDescription* font);

// Stores font under wg_gadget_font on the widget and makes the widget draw
// with it; none gives the widget the theme's font back. Holding gui_lock.
void widget_set_font(GtkWidget* widget, PangoFontDescription* font);

// The font set with widget_set_font, else the style's font; none when the
// widget has no style. Holding gui_lock.
PangoFontDescription* widget_get_font(GtkWidget* widget);

// Sets or (colour -1) clears the foreground (fg, text) or background (bg,
// base) colour of the normal, active and prelight states in the widget's
// modifier style; a background also goes to the record's outer widget. Any
// other attribute re-applies the modifier style unchanged. Holding gui_lock.
void gadget_apply_color(GadgetRecord* record, int attribute, int color, GtkWidget* widget);

// Gives the gadget the calling thread's default gadget font through its kind's
// set_font; nothing when the thread has none. Holding gui_lock.
void gadget_apply_default_font(GadgetRecord* record);

// Signal handlers that turn user actions into gadget events (EVENT_GADGET with
// the gadget number as object and the containing window's number). The user
// data of each is the gadget number. Kinds connect them.
void gadget_clicked_handler(GtkButton* button, gpointer number);
void gadget_changed_handler(GtkComboBox* combo, gpointer number);
gboolean gadget_focus_in_handler(GtkWidget* widget, GdkEventFocus* event, gpointer number);
gboolean gadget_focus_out_handler(GtkWidget* widget, GdkEventFocus* event, gpointer number);
void gadget_activate_handler(GtkEntry* entry, gpointer number);

// A gadget number as signal user data and back.
inline gpointer gadget_number_to_data(object_number number) {
    return reinterpret_cast<gpointer>(number);
}
inline object_number gadget_number_from_data(gpointer data) {
    return reinterpret_cast<object_number>(data);
}
