#include "gui/button_gadget.h"

#include "base/text_decoding.h"
#include "gui/gadget.h"
#include "gui/text_encoding.h"

namespace {

GtkLabel* label_of(GadgetRecord* record) {
    return GTK_LABEL(gtk_bin_get_child(GTK_BIN(record->widget)));
}

void set_state(GadgetRecord* record, int state) {
    if (GTK_IS_TOGGLE_BUTTON(record->widget)) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(record->widget), state != 0);
    }
}

const char* get_text(GadgetRecord* record) {
    return text_from_toolkit(gtk_label_get_text(label_of(record)));
}

void set_text(GadgetRecord* record, const char* text) {
    gtk_label_set_text(label_of(record), text);
}

void set_font(GadgetRecord* record, PangoFontDescription* font) {
    widget_set_font(GTK_WIDGET(label_of(record)), font);
}

// The table's get_state and get_font: nothing in this program calls them.
int get_state(GadgetRecord* record) {
    if (!GTK_IS_TOGGLE_BUTTON(record->widget)) {
        return 0;
    }
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(record->widget)) ? 1 : 0;
}

PangoFontDescription* get_font(GadgetRecord* record) {
    return widget_get_font(GTK_WIDGET(label_of(record)));
}

// A wrapping label breaks its lines at the width it asks for, so it asks for
// the whole room the button was given.
void wrap_handler(GtkWidget* button, GtkAllocation* allocation, gpointer) {
    gtk_widget_set_size_request(gtk_bin_get_child(GTK_BIN(button)), allocation->width,
                                allocation->height);
}

constexpr GadgetOps button_ops{
    .kind = KIND_BUTTON,
    .get_state = get_state,
    .set_state = set_state,
    .get_text = get_text,
    .set_text = set_text,
    .set_font = set_font,
    .get_font = get_font,
};

} // namespace

object_number button_gadget_create(object_number number, int x, int y, int width, int height,
                                   const char* text, int flags) {
    GtkFixed* container = gadget_container();
    if (container == nullptr) {
        return 0;
    }
    GtkWidget* button = (flags & BUTTON_TOGGLE) != 0 ? gtk_toggle_button_new_with_label("")
                                                     : gtk_button_new_with_label("");
    if (button == nullptr) {
        return 0;
    }
    object_number assigned = 0;
    GadgetRecord* record = gadget_allocate(number, &assigned);
    if (record == nullptr) {
        gadget_discard_widget(button);
        return 0;
    }
    gtk_widget_show(button);
    gtk_widget_set_size_request(button, width, height);
    gtk_fixed_put(container, button, x, y);
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
    if ((flags & BUTTON_ALIGN_RIGHT) != 0) {
        gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
    } else if ((flags & BUTTON_ALIGN_LEFT) != 0) {
        gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.5f);
    }
    if ((flags & BUTTON_WRAP) != 0) {
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_widget_set_size_request(label, width, height);
        g_signal_connect(button, "size-allocate", G_CALLBACK(wrap_handler), nullptr);
    }
    g_signal_connect(button, "clicked", G_CALLBACK(gadget_clicked_handler),
                     gadget_number_to_data(assigned));
    gadget_fill(record, button, nullptr, &button_ops);
    if (text != nullptr) {
        ToolkitText converted = text_to_toolkit(text);
        button_ops.set_text(record, converted.get());
    }
    gadget_register(record, assigned);
    return gadget_created(number, assigned, button);
}

object_number button_gadget_create_plain(object_number number, int x, int y, int width, int height,
                                         const char* text) {
    return button_gadget_create(number, x, y, width, height, text, 0);
}
