#include "gui/text_gadget.h"

#include "base/text_decoding.h"
#include "gui/gadget.h"
#include "gui/text_encoding.h"

#include <cstdint>

namespace {

// The kind words of a text gadget: each colour + 1, 0 while the theme's colour
// applies.
struct TextColors {
    std::intptr_t foreground;
    std::intptr_t background;
};

TextColors& colors_of(GadgetRecord* record) {
    return gadget_kind_data<TextColors>(record);
}

void set_text(GadgetRecord* record, const char* text) {
    gtk_label_set_text(GTK_LABEL(record->widget), text);
}

const char* get_text(GadgetRecord* record) {
    return text_from_toolkit(gtk_label_get_text(GTK_LABEL(record->widget)));
}

void set_font(GadgetRecord* record, PangoFontDescription* font) {
    widget_set_font(record->widget, font);
}

void set_color(GadgetRecord* record, int attribute, int color) {
    // The label has no window to paint a background on: the event box paints
    // it, and only while a colour is set, so the theme shows through otherwise.
    if (attribute == COLOR_BACKGROUND) {
        gtk_event_box_set_visible_window(GTK_EVENT_BOX(record->outer), color != -1);
    }
    std::intptr_t stored = color == -1 ? 0 : std::intptr_t{color} + 1;
    if (attribute == COLOR_FOREGROUND) {
        colors_of(record).foreground = stored;
    } else if (attribute == COLOR_BACKGROUND) {
        colors_of(record).background = stored;
    }
    gadget_apply_color(record, attribute, color, record->widget);
}

// The table's get_color and get_font: nothing in this program calls them.
int get_color(GadgetRecord* record, int attribute) {
    if (attribute == COLOR_FOREGROUND) {
        return static_cast<int>(colors_of(record).foreground - 1);
    }
    if (attribute == COLOR_BACKGROUND) {
        return static_cast<int>(colors_of(record).background - 1);
    }
    return -1;
}

PangoFontDescription* get_font(GadgetRecord* record) {
    return widget_get_font(record->widget);
}

// From the first allocation on the label asks for the width it was given and
// the height its wrapped lines need.
void wrap_handler(GtkWidget* label, GtkAllocation* allocation, gpointer) {
    gtk_widget_set_size_request(label, allocation->width, -1);
}

constexpr GadgetOps text_ops{
    .kind = KIND_TEXT,
    .get_text = get_text,
    .set_text = set_text,
    .set_font = set_font,
    .set_color = set_color,
    .get_color = get_color,
    .get_font = get_font,
};

} // namespace

object_number text_gadget_create(object_number number, int x, int y, int width, int height,
                                 const char* text, int flags) {
    GtkFixed* container = gadget_container();
    if (container == nullptr) {
        return 0;
    }
    GtkWidget* label = gtk_label_new("");
    if (label == nullptr) {
        return 0;
    }
    GtkWidget* box = gtk_event_box_new();
    if (box == nullptr) {
        gadget_discard_widget(label);
        return 0;
    }
    object_number assigned = 0;
    GadgetRecord* record = gadget_allocate(number, &assigned);
    if (record == nullptr) {
        gadget_discard_widget(label);
        gadget_discard_widget(box);
        return 0;
    }
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    GtkWidget* frame = nullptr;
    if ((flags & TEXT_FRAMED) != 0) {
        frame = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
        gtk_container_add(GTK_CONTAINER(box), frame);
        gtk_container_add(GTK_CONTAINER(frame), label);
    } else {
        gtk_container_add(GTK_CONTAINER(box), label);
    }
    gtk_fixed_put(container, box, x, y);
    gtk_widget_set_size_request(box, width, height);
    gtk_widget_set_size_request(label, width, height);
    if ((flags & TEXT_ALIGN_RIGHT) != 0) {
        gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.0f);
    } else if ((flags & TEXT_ALIGN_CENTRE) != 0) {
        gtk_misc_set_alignment(GTK_MISC(label), 0.5f, 0.0f);
    } else {
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        g_signal_connect(label, "size-allocate", G_CALLBACK(wrap_handler), nullptr);
        gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
    }
    gadget_fill(record, label, box, &text_ops);
    if (text != nullptr) {
        ToolkitText converted = text_to_toolkit(text);
        text_ops.set_text(record, converted.get());
    }
    gtk_widget_show(label);
    if (frame != nullptr) {
        gtk_widget_show(frame);
    }
    gtk_widget_show(box);
    gadget_register(record, assigned);
    return gadget_created(number, assigned, label);
}

object_number text_gadget_create_plain(object_number number, int x, int y, int width, int height,
                                       const char* text) {
    return text_gadget_create(number, x, y, width, height, text, 0);
}
