// A toolkit module for the end-to-end tests, loaded into the program under test
// through GTK_MODULES; the program itself knows nothing of it. Every 20 ms it
// writes what the program's toplevel windows show to the file named by
// WINDOW_SNAPSHOT_FILE: one line per widget, depth first, in the form
//
//   <depth> <type> key=value key="escaped text" ...
//
// framed by "snapshot tick=N" and "end". The file is written under a temporary
// name and renamed, so a reader never sees half a snapshot.
//
// The walk only reads: it never creates a modifier style or changes a widget,
// and it runs on a timer added with gdk_threads_add_timeout, so it holds the
// GUI lock like any other toolkit callback of the program.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr guint SNAPSHOT_INTERVAL_MS = 20;

std::string* snapshot_path = nullptr;
unsigned long snapshot_tick = 0;

void append_escaped(std::string& out, const char* text) {
    out += '"';
    for (const char* p = text ? text : ""; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += '"';
}

void append_text(std::string& out, const char* key, const char* text) {
    out += ' ';
    out += key;
    out += '=';
    append_escaped(out, text);
}

void append_number(std::string& out, const char* key, long value) {
    out += ' ';
    out += key;
    out += '=';
    out += std::to_string(value);
}

void append_real(std::string& out, const char* key, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", value);
    out += ' ';
    out += key;
    out += '=';
    out += number;
}

void append_colour(std::string& out, const char* key, const GdkColor& colour) {
    char value[32];
    std::snprintf(value, sizeof value, "%04x,%04x,%04x", colour.red, colour.green, colour.blue);
    out += ' ';
    out += key;
    out += '=';
    out += value;
}

// The modifier style is read from the widget's data, where the toolkit keeps
// it: gtk_widget_get_modifier_style would create one on widgets that have none.
void append_style(std::string& out, GtkWidget* widget) {
    auto* modifier = static_cast<GtkRcStyle*>(g_object_get_data(G_OBJECT(widget), "gtk-rc-style"));
    if (modifier != nullptr && (modifier->color_flags[GTK_STATE_NORMAL] & GTK_RC_BG) != 0) {
        append_colour(out, "modifier_bg", modifier->bg[GTK_STATE_NORMAL]);
    }
    if (widget->style != nullptr) {
        append_colour(out, "bg", widget->style->bg[GTK_STATE_NORMAL]);
        if (widget->style->font_desc != nullptr) {
            gchar* font = pango_font_description_to_string(widget->style->font_desc);
            append_text(out, "font", font);
            g_free(font);
        }
    }
}

// The first text column of a combo box's model holds what its items show.
void append_combo_items(std::string& out, GtkComboBox* combo) {
    GtkTreeModel* model = gtk_combo_box_get_model(combo);
    append_number(out, "active", gtk_combo_box_get_active(combo));
    if (model == nullptr) {
        append_number(out, "items", 0);
        return;
    }
    int text_column = -1;
    for (int column = 0; column < gtk_tree_model_get_n_columns(model); ++column) {
        if (gtk_tree_model_get_column_type(model, column) == G_TYPE_STRING) {
            text_column = column;
            break;
        }
    }
    append_number(out, "items", gtk_tree_model_iter_n_children(model, nullptr));
    GtkTreeIter iter;
    int index = 0;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter), ++index) {
        gchar* text = nullptr;
        if (text_column >= 0) {
            gtk_tree_model_get(model, &iter, text_column, &text, -1);
        }
        const std::string key = "item" + std::to_string(index);
        append_text(out, key.c_str(), text);
        g_free(text);
    }
}

void append_kind_details(std::string& out, GtkWidget* widget) {
    if (GTK_IS_WINDOW(widget)) {
        GtkWindow* window = GTK_WINDOW(widget);
        append_text(out, "title", gtk_window_get_title(window));
        append_number(out, "resizable", gtk_window_get_resizable(window));
        append_number(out, "active", gtk_window_is_active(window));
        append_number(out, "popup", window->type == GTK_WINDOW_POPUP);
        if (widget->window != nullptr) {
            append_number(out, "xid", static_cast<long>(GDK_WINDOW_XID(widget->window)));
            gint x = 0;
            gint y = 0;
            gdk_window_get_origin(widget->window, &x, &y);
            append_number(out, "screen_x", x);
            append_number(out, "screen_y", y);
        }
    }
    if (GTK_IS_LABEL(widget)) {
        append_text(out, "text", gtk_label_get_text(GTK_LABEL(widget)));
        append_number(out, "wrap", gtk_label_get_line_wrap(GTK_LABEL(widget)));
    }
    if (GTK_IS_MISC(widget)) {
        gfloat xalign = 0;
        gfloat yalign = 0;
        gtk_misc_get_alignment(GTK_MISC(widget), &xalign, &yalign);
        append_real(out, "xalign", xalign);
        append_real(out, "yalign", yalign);
    }
    if (GTK_IS_FRAME(widget)) {
        append_number(out, "shadow", gtk_frame_get_shadow_type(GTK_FRAME(widget)));
    }
    if (GTK_IS_BUTTON(widget)) {
        append_text(out, "label", gtk_button_get_label(GTK_BUTTON(widget)));
        append_number(out, "use_stock", gtk_button_get_use_stock(GTK_BUTTON(widget)));
    }
    if (GTK_IS_COMBO_BOX(widget)) {
        append_combo_items(out, GTK_COMBO_BOX(widget));
    }
    if (GTK_IS_EVENT_BOX(widget)) {
        append_number(out, "visible_window",
                      gtk_event_box_get_visible_window(GTK_EVENT_BOX(widget)));
    }
    if (GTK_IS_FIXED(widget)) {
        append_number(out, "fixed_has_window", gtk_fixed_get_has_window(GTK_FIXED(widget)));
    }
}

void append_widget(std::string& out, GtkWidget* widget, GtkWidget* toplevel, int depth);

struct ChildWalk {
    std::string* out;
    GtkWidget* toplevel;
    int depth;
};

void append_child(GtkWidget* child, gpointer data) {
    auto* walk = static_cast<ChildWalk*>(data);
    append_widget(*walk->out, child, walk->toplevel, walk->depth);
}

void append_widget(std::string& out, GtkWidget* widget, GtkWidget* toplevel, int depth) {
    out += std::to_string(depth);
    out += ' ';
    out += G_OBJECT_TYPE_NAME(widget);
    gint x = 0;
    gint y = 0;
    // Positions are in the toplevel's client coordinates, whatever windows lie
    // in between.
    if (GTK_WIDGET_REALIZED(widget) &&
        gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y)) {
        append_number(out, "x", x);
        append_number(out, "y", y);
    }
    append_number(out, "width", widget->allocation.width);
    append_number(out, "height", widget->allocation.height);
    gint request_width = -1;
    gint request_height = -1;
    gtk_widget_get_size_request(widget, &request_width, &request_height);
    append_number(out, "request_width", request_width);
    append_number(out, "request_height", request_height);
    append_number(out, "visible", GTK_WIDGET_VISIBLE(widget) ? 1 : 0);
    append_number(out, "mapped", GTK_WIDGET_MAPPED(widget) ? 1 : 0);
    append_number(out, "sensitive", GTK_WIDGET_SENSITIVE(widget) ? 1 : 0);
    append_number(out, "is_sensitive", GTK_WIDGET_IS_SENSITIVE(widget) ? 1 : 0);
    append_number(out, "has_window", GTK_WIDGET_NO_WINDOW(widget) ? 0 : 1);
    if (GTK_IS_WINDOW(toplevel) && gtk_window_get_focus(GTK_WINDOW(toplevel)) == widget) {
        append_number(out, "focus", 1);
    }
    append_kind_details(out, widget);
    append_style(out, widget);
    out += '\n';
    if (GTK_IS_CONTAINER(widget)) {
        // forall, not foreach: internal children (a dialog's button row, the
        // parts of a combo box) are what a user sees as well.
        ChildWalk walk{&out, toplevel, depth + 1};
        gtk_container_forall(GTK_CONTAINER(widget), append_child, &walk);
    }
}

void write_snapshot(const std::string& text) {
    const std::string temporary = *snapshot_path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) == 0 && written) {
        std::rename(temporary.c_str(), snapshot_path->c_str());
    }
}

gboolean take_snapshot(gpointer) {
    std::string out = "snapshot tick=" + std::to_string(++snapshot_tick) + "\n";
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        auto* widget = static_cast<GtkWidget*>(item->data);
        append_widget(out, widget, widget, 0);
    }
    g_list_free(toplevels);
    out += "end\n";
    write_snapshot(out);
    return TRUE;
}

} // namespace

extern "C" G_MODULE_EXPORT void gtk_module_init(gint*, gchar***) {
    const char* path = std::getenv("WINDOW_SNAPSHOT_FILE");
    if (path == nullptr || *path == '\0' || snapshot_path != nullptr) {
        return;
    }
    // Lives as long as the process: the timer may fire until the very end.
    snapshot_path = new std::string(path);
    gdk_threads_add_timeout(SNAPSHOT_INTERVAL_MS, take_snapshot, nullptr);
}
