#include "gui/gadget.h"

#include "base/text_storage.h"
#include "gui/event_queue.h"
#include "gui/gadget_state.h"
#include "gui/text_encoding.h"
#include "gui/toolkit.h"
#include "gui/window.h"

namespace {

// Process-lifetime: a worker still running at exit may look a gadget up.
ObjectTable* gadget_table = nullptr;

constexpr int GADGET_TABLE_GROWTH = 16;

// Raises the event queue's suppression counter for the scope, so the signals
// the toolkit emits for the program's own change become no events.
class EventSuppression {
  public:
    EventSuppression() { event_suppress_begin(); }
    ~EventSuppression() { event_suppress_end(); }
    EventSuppression(const EventSuppression&) = delete;
    EventSuppression& operator=(const EventSuppression&) = delete;
};

// The live record, or none. The table is held while the record's kind table
// is read: without gui_lock an automatic record may be freed between the
// look-up and that read.
GadgetRecord* live_gadget(object_number gadget) {
    if (gadget_table == nullptr) {
        return nullptr;
    }
    auto hold = registry_hold(gadget_table);
    GadgetRecord* record = gadget_lookup(gadget);
    return record != nullptr && record->ops != nullptr ? record : nullptr;
}

// The live record when its kind fills the slot; none otherwise.
template <typename Slot> GadgetRecord* gadget_with(object_number gadget, Slot GadgetOps::*slot) {
    if (gadget_table == nullptr) {
        return nullptr;
    }
    auto hold = registry_hold(gadget_table);
    GadgetRecord* record = live_gadget(gadget);
    return record != nullptr && record->ops->*slot != nullptr ? record : nullptr;
}

// The operations a worker may call: the operation runs on the live record,
// under gui_lock, when the kind fills the slot. Returns whether it ran.
template <typename Slot, typename Operation>
bool with_locked_gadget(object_number gadget, Slot GadgetOps::*slot, Operation operation) {
    return with_gui_lock_if_found([&] { return gadget_with(gadget, slot); }, operation);
}

PangoFontDescription* font_or_theme(PangoFontDescription* font) {
    return reinterpret_cast<std::intptr_t>(font) == -1 ? nullptr : font;
}

// A handler's user data as the event's 32-bit object field: automatic numbers
// are small negative handles, so they fit.
int event_object_of(gpointer number) {
    return static_cast<int>(gadget_number_from_data(number));
}

void push_gadget_event(GtkWidget* widget, gpointer number, int detail) {
    event_push(EVENT_GADGET, event_object_of(number), window_number_of(widget), detail, nullptr,
               nullptr, 0);
}

void destroy_handler(GtkWidget* widget, gpointer data) {
    object_number number = gadget_number_from_data(data);
    GadgetRecord* record = gadget_lookup(number);
    // A number already handed to a newer gadget is not this widget's to give up.
    if (record == nullptr || record->widget != widget) {
        return;
    }
    if (record->ops != nullptr && record->ops->free_hook != nullptr) {
        record->ops->free_hook(record);
    }
    registry_release(gadget_table, number);
}

// Channel of a colour byte: the byte in the high half of the 16-bit value.
guint16 channel(int color, int shift) {
    return static_cast<guint16>(((color >> shift) & 0xFF) * 256);
}

void modify_colors(GtkWidget* widget, int attribute, int color) {
    GtkRcStyle* style = gtk_widget_get_modifier_style(widget);
    GdkColor value{0, channel(color, 0), channel(color, 8), channel(color, 16)};
    unsigned bits =
        attribute == COLOR_FOREGROUND ? (GTK_RC_FG | GTK_RC_TEXT) : (GTK_RC_BG | GTK_RC_BASE);
    // Selected and insensitive keep the theme's colours, so selection and
    // disabled gadgets stay recognisable.
    for (GtkStateType state : {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT}) {
        unsigned flags = style->color_flags[state];
        if (color == -1) {
            flags &= ~bits;
        } else {
            flags |= bits;
            if (attribute == COLOR_FOREGROUND) {
                style->fg[state] = value;
                style->text[state] = value;
            } else {
                style->bg[state] = value;
                style->base[state] = value;
            }
        }
        style->color_flags[state] = static_cast<GtkRcFlags>(flags);
    }
    gtk_widget_modify_style(widget, style);
}

} // namespace

void gadget_init() {
    registry_create_once(&gadget_table, sizeof(GadgetRecord), GADGET_TABLE_GROWTH, gadget_release);
    gadget_state_register();
}

GadgetRecord* gadget_allocate(object_number number, object_number* assigned) {
    auto* record = static_cast<GadgetRecord*>(registry_allocate(gadget_table, number));
    if (record == nullptr) {
        return nullptr;
    }
    *assigned = number == OBJECT_ANY ? registry_number_of(gadget_table, record) : number;
    return record;
}

GtkFixed* gadget_container() {
    GtkWidget* container = gadget_state()->container;
    return container != nullptr && GTK_IS_FIXED(container) ? GTK_FIXED(container) : nullptr;
}

void gadget_fill(GadgetRecord* record, GtkWidget* widget, GtkWidget* outer, const GadgetOps* ops) {
    auto hold = registry_hold(gadget_table);
    record->widget = widget;
    record->outer = outer;
    record->ops = ops;
}

object_number gadget_created(object_number requested, object_number assigned, GtkWidget* widget) {
    return requested == OBJECT_ANY ? assigned : reinterpret_cast<object_number>(widget);
}

void gadget_discard_widget(GtkWidget* widget) {
    if (widget == nullptr) {
        return;
    }
    g_object_ref_sink(widget);
    gtk_widget_destroy(widget);
    g_object_unref(widget);
}

void gadget_register(GadgetRecord* record, object_number number) {
    GtkWidget* widget = record->widget;
    // Realizing needs a toplevel; a container outside any window gets its
    // widgets realized when it is put into one.
    if (gtk_widget_is_toplevel(gtk_widget_get_toplevel(widget))) {
        gtk_widget_realize(widget);
    }
    gadget_apply_default_font(record);
    g_signal_connect(widget, "destroy", G_CALLBACK(destroy_handler), gadget_number_to_data(number));
    g_object_set_data(G_OBJECT(widget), "wg_id", gadget_number_to_data(number + 1));
    event_flush_toolkit();
}

GadgetRecord* gadget_lookup(object_number gadget) {
    if (gadget_table == nullptr) {
        return nullptr;
    }
    return static_cast<GadgetRecord*>(registry_lookup(gadget_table, gadget));
}

void gadget_release(object_number gadget) {
    if (gadget == -1) {
        if (gadget_table != nullptr) {
            registry_release_all(gadget_table);
        }
        return;
    }
    GadgetRecord* record = gadget_lookup(gadget);
    if (record == nullptr) {
        return;
    }
    gtk_widget_destroy(record->outer != nullptr ? record->outer : record->widget);
}

void gadget_set_text(object_number gadget, const char* text) {
    with_locked_gadget(gadget, &GadgetOps::set_text, [text](GadgetRecord* record) {
        ToolkitText converted = text_to_toolkit(text);
        EventSuppression suppression;
        record->ops->set_text(record, converted.get());
    });
}

const char* gadget_get_text(object_number gadget) {
    const char* text = nullptr;
    bool ran = with_locked_gadget(gadget, &GadgetOps::get_text, [&text](GadgetRecord* record) {
        text = record->ops->get_text(record);
    });
    return ran ? text : text_result("");
}

int gadget_add_item(object_number gadget, int position, const char* text, GdkPixbuf* image,
                    int flags) {
    int result = 0;
    // A live gadget whose kind has no items still takes the lock.
    with_gui_lock_if_found(
        [gadget] { return live_gadget(gadget); },
        [&](GadgetRecord* record) {
            ToolkitText converted = text_to_toolkit(text);
            EventSuppression suppression;
            if (record->ops->add_item_ex != nullptr) {
                result = record->ops->add_item_ex(record, position, converted.get(), image, flags);
            } else if (record->ops->add_item != nullptr) {
                result = record->ops->add_item(record, position, converted.get(), image);
            }
        });
    return result;
}

int gadget_add_item(object_number gadget, int position, const char* text, GdkPixbuf* image) {
    return gadget_add_item(gadget, position, text, image, 0);
}

int gadget_add_item(object_number gadget, int position, const char* text) {
    return gadget_add_item(gadget, position, text, nullptr, 0);
}

void gadget_set_state(object_number gadget, int state) {
    with_locked_gadget(gadget, &GadgetOps::set_state, [state](GadgetRecord* record) {
        EventSuppression suppression;
        record->ops->set_state(record, state);
    });
}

void gadget_disable(object_number gadget, int disable) {
    GadgetRecord* record = gadget_lookup(gadget);
    if (record != nullptr) {
        gtk_widget_set_sensitive(record->widget, disable == 0);
    }
}

void gadget_set_color(object_number gadget, int attribute, int color) {
    with_locked_gadget(gadget, &GadgetOps::set_color, [=](GadgetRecord* record) {
        record->ops->set_color(record, attribute, color);
    });
}

void gadget_set_font(object_number gadget, PangoFontDescription* font) {
    if (gadget == -1) {
        // The calling thread's default: no gadget, no lock.
        gadget_set_font_unlocked(gadget, font);
        return;
    }
    font = font_or_theme(font);
    with_locked_gadget(gadget, &GadgetOps::set_font,
                       [font](GadgetRecord* record) { record->ops->set_font(record, font); });
}

void gadget_set_font(object_number gadget, int /*theme_font*/) {
    gadget_set_font(gadget, static_cast<PangoFontDescription*>(nullptr));
}

void gadget_set_font_unlocked(object_number gadget, PangoFontDescription* font) {
    font = font_or_theme(font);
    if (gadget == -1) {
        gadget_state()->default_font = font;
    } else if (GadgetRecord* record = gadget_with(gadget, &GadgetOps::set_font);
               record != nullptr) {
        record->ops->set_font(record, font);
    }
}

void widget_set_font(GtkWidget* widget, PangoFontDescription* font) {
    g_object_set_data(G_OBJECT(widget), "wg_gadget_font", font);
    gtk_widget_modify_font(widget, font);
}

PangoFontDescription* widget_get_font(GtkWidget* widget) {
    GtkStyle* style = gtk_widget_get_style(widget);
    if (style == nullptr) {
        return nullptr;
    }
    auto* font =
        static_cast<PangoFontDescription*>(g_object_get_data(G_OBJECT(widget), "wg_gadget_font"));
    return font != nullptr ? font : style->font_desc;
}

void gadget_apply_color(GadgetRecord* record, int attribute, int color, GtkWidget* widget) {
    if (attribute != COLOR_FOREGROUND && attribute != COLOR_BACKGROUND) {
        gtk_widget_modify_style(widget, gtk_widget_get_modifier_style(widget));
        return;
    }
    modify_colors(widget, attribute, color);
    if (attribute == COLOR_BACKGROUND && record->outer != nullptr) {
        modify_colors(record->outer, attribute, color);
    }
}

void gadget_apply_default_font(GadgetRecord* record) {
    PangoFontDescription* font = gadget_state()->default_font;
    if (font != nullptr && record->ops->set_font != nullptr) {
        record->ops->set_font(record, font);
    }
}

void gadget_clicked_handler(GtkButton* button, gpointer number) {
    // A click racing the window's close request would reach an application
    // that is already shutting the window down.
    if (event_peek_code() == EVENT_CLOSE_WINDOW) {
        return;
    }
    push_gadget_event(GTK_WIDGET(button), number, DETAIL_CLICKED);
}

void gadget_changed_handler(GtkComboBox* combo, gpointer number) {
    push_gadget_event(GTK_WIDGET(combo), number, DETAIL_CHANGED);
}

gboolean gadget_focus_in_handler(GtkWidget* widget, GdkEventFocus*, gpointer number) {
    push_gadget_event(widget, number, DETAIL_FOCUS_IN);
    return FALSE;
}

gboolean gadget_focus_out_handler(GtkWidget* widget, GdkEventFocus*, gpointer number) {
    push_gadget_event(widget, number, DETAIL_FOCUS_OUT);
    return FALSE;
}

void gadget_activate_handler(GtkEntry*, gpointer) {}
