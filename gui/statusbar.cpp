#include "gui/statusbar.h"

#include "base/owners.h"
#include "base/thread_area.h"
#include "gui/text_encoding.h"
#include "gui/toolkit.h"

#include <memory>
#include <mutex>

namespace {

struct StatusbarRecord {
    GtkWidget* hbox;
};

// The calling thread's bar under construction. The number lets
// statusbar_add_field see whether the bar still exists: nothing clears this
// state when the bar is destroyed.
struct BuildState {
    GtkWidget* bar;
    GtkWidget* content_box;
    object_number number;
};
// Thread areas are pointer-aligned.
static_assert(alignof(BuildState) <= alignof(void*));

ObjectTable* statusbar_table = nullptr;
std::size_t build_state_offset = 0;
std::once_flag build_state_registered;

constexpr int MAXIMUM_FIELD_WIDTH = 8192;
constexpr int MINIMUM_FIELD_HEIGHT = 22;
constexpr int FIELD_PADDING = 2;

using ChildList = OwnedBy<GList, g_list_free>;

ObjectTable* table() {
    registry_create_once(&statusbar_table, sizeof(StatusbarRecord), 16, statusbar_release);
    return statusbar_table;
}

BuildState* build_state() {
    statusbar_init();
    return thread_area_get_as<BuildState>(build_state_offset);
}

void remember_child(GtkWidget* child, gpointer build) {
    static_cast<BuildState*>(build)->content_box = child;
}

// A bar goes away with its hbox, by statusbar_release or with its window.
void on_bar_destroyed(GtkWidget* hbox, gpointer data) {
    auto number = reinterpret_cast<object_number>(data);
    auto hold = registry_hold(table());
    auto* record = static_cast<StatusbarRecord*>(registry_lookup(table(), number));
    if (record != nullptr && record->hbox == hbox) {
        registry_release(table(), number);
    }
}

// The bar's hbox if the number still names that bar; none otherwise. The
// table stays held while the record is read: without gui_lock a worker may
// race the main thread releasing an automatic record.
GtkWidget* bar_widget(object_number number) {
    auto hold = registry_hold(table());
    auto* record = static_cast<StatusbarRecord*>(registry_lookup(table(), number));
    return record != nullptr ? record->hbox : nullptr;
}

// Field `field` of the bar takes the text, alignment and border. Holding
// gui_lock.
void set_field(GtkWidget* hbox, int field, const char* text, int flags) {
    if (field < 0) {
        return;
    }
    ChildList fields(gtk_container_get_children(GTK_CONTAINER(hbox)));
    auto* frame = static_cast<GtkWidget*>(g_list_nth_data(fields.get(), static_cast<guint>(field)));
    if (frame == nullptr || !GTK_IS_FRAME(frame)) {
        return;
    }
    GtkWidget* content = gtk_bin_get_child(GTK_BIN(frame));
    if (content == nullptr) {
        return;
    }
    ToolkitText converted = text_to_toolkit(text);
    GtkWidget* label = content;
    if (GTK_IS_LABEL(content)) {
        gtk_label_set_text(GTK_LABEL(label), converted.get());
    } else {
        label = gtk_label_new(converted.get());
        gtk_widget_destroy(content);
        if (label != nullptr) {
            gtk_container_add(GTK_CONTAINER(frame), label);
            gtk_widget_show(label);
        }
    }
    if (label != nullptr) {
        float horizontal = 0.0F;
        if ((flags & FIELD_CENTRED) != 0) {
            horizontal = 0.5F;
        } else if ((flags & FIELD_RIGHT) != 0) {
            horizontal = 1.0F;
        }
        gtk_misc_set_alignment(GTK_MISC(label), horizontal, 0.5F);
    }
    GtkShadowType border = GTK_SHADOW_IN;
    if ((flags & FIELD_SHADOW_NONE) != 0) {
        border = GTK_SHADOW_NONE;
    } else if ((flags & FIELD_SHADOW_OUT) != 0) {
        border = GTK_SHADOW_OUT;
    }
    gtk_frame_set_shadow_type(GTK_FRAME(frame), border);
}

} // namespace

void statusbar_init() {
    table();
    std::call_once(build_state_registered, [] {
        build_state_offset = thread_area_register(sizeof(BuildState), nullptr, nullptr);
    });
}

object_number statusbar_create(object_number number, GtkWidget* window) {
    if (number < OBJECT_ANY || window == nullptr || !GTK_IS_CONTAINER(window)) {
        return 0;
    }
    BuildState* build = build_state();
    build->content_box = nullptr;
    gtk_container_foreach(GTK_CONTAINER(window), remember_child, build);
    if (build->content_box == nullptr || !GTK_IS_BOX(build->content_box)) {
        return 0;
    }
    GtkWidget* hbox = gtk_hbox_new(FALSE, 0);
    if (hbox == nullptr) {
        return 0;
    }
    gtk_widget_show(hbox);
    gtk_box_pack_start(GTK_BOX(build->content_box), hbox, FALSE, FALSE, FIELD_PADDING);
    gtk_box_reorder_child(GTK_BOX(build->content_box), hbox, 3);

    auto hold = registry_hold(table());
    auto* record = static_cast<StatusbarRecord*>(registry_allocate(table(), number));
    if (record == nullptr) {
        gtk_widget_destroy(hbox);
        return 0;
    }
    object_number bar_number = number == OBJECT_ANY ? registry_number_of(table(), record) : number;
    g_signal_connect(hbox, "destroy", G_CALLBACK(on_bar_destroyed),
                     reinterpret_cast<gpointer>(bar_number));
    record->hbox = hbox;
    build->bar = hbox;
    build->number = bar_number;
    return number == OBJECT_ANY ? bar_number : reinterpret_cast<object_number>(hbox);
}

void statusbar_add_field(int width) {
    BuildState* build = build_state();
    if (build->bar == nullptr || bar_widget(build->number) != build->bar) {
        return;
    }
    gboolean stretch = FALSE;
    if (width == FIELD_FILL) {
        width = -1;
        stretch = TRUE;
    } else if (width > MAXIMUM_FIELD_WIDTH) {
        width = MAXIMUM_FIELD_WIDTH;
    } else if (width < -1) {
        // The toolkit refuses such a size request outright, height and all.
        width = -1;
    }
    GtkWidget* label = gtk_label_new("");
    if (label == nullptr) {
        return;
    }
    g_object_ref_sink(label);
    GtkWidget* frame = gtk_frame_new(nullptr);
    if (frame == nullptr) {
        g_object_unref(label);
        return;
    }
    gtk_widget_show(label);

    // Never lower than 22 pixels; a taller font gets 3 pixels above and below.
    GtkRequisition natural{};
    gtk_widget_size_request(label, &natural);
    int height = natural.height <= 15 ? MINIMUM_FIELD_HEIGHT : natural.height + 6;
    gtk_widget_set_size_request(frame, width, height);
    // Every field of this layer carries a range; nothing in this program reads it.
    g_object_set_data(G_OBJECT(frame), "wg_statusbar_min", GINT_TO_POINTER(0));
    g_object_set_data(G_OBJECT(frame), "wg_statusbar_max", GINT_TO_POINTER(100));

    gtk_container_add(GTK_CONTAINER(frame), label);
    g_object_unref(label);
    gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    gtk_widget_show(frame);
    gtk_box_pack_start(GTK_BOX(build->bar), frame, stretch, stretch, FIELD_PADDING);
}

void statusbar_set_text(object_number number, int field, const char* text, int flags) {
    with_gui_lock_if_found([number] { return bar_widget(number); },
                           [=](GtkWidget* hbox) { set_field(hbox, field, text, flags); });
}

void statusbar_set_text_plain(object_number number, int field, const char* text) {
    statusbar_set_text(number, field, text, 0);
}

void statusbar_release(object_number number) {
    // The hbox's "destroy" handler gives the record back.
    registry_release_numbered<StatusbarRecord>(
        table(), number, [](StatusbarRecord* record) { gtk_widget_destroy(record->hbox); });
}
