#include "gui/window.h"

#include "gui/event_queue.h"
#include "gui/gadget_area.h"
#include "gui/gadget_state.h"
#include "gui/text_encoding.h"

#include <cstdint>
#include <vector>

namespace {

struct WindowRecord {
    GtkWidget* widget; // primary handle: non-zero while the window exists
    // What every window of this layer carries and nothing in this program
    // reads: set at open, the group, area and timers released with the window.
    GtkWidget* parent;
    GtkAccelGroup* accelerators;
    GtkWidget* spare_area; // in no widget tree
    GSList* timers;        // toolkit source ids; nothing here adds one
    int color;             // the last window_set_color
    int flags;             // after WINDOW_TOOL's clearings
    std::int16_t min_width;
    std::int16_t min_height;
    std::int16_t max_width;
    std::int16_t max_height;
};

constexpr int TABLE_GROWTH = 16;
constexpr int POSITION_UNSET = -65535;
constexpr int SMALLEST_SIZE = 30;
constexpr int FIRST_CONFIGURATION_WAIT_MS = 500;
constexpr guint FOCUS_RESTORE_DELAY_MS = 50;
constexpr std::int16_t LARGEST_SIZE_LIMIT = 0x7FFF;
constexpr int STATE_MAXIMIZED = 512;
constexpr int STATE_MINIMIZED = 1024;
constexpr int TOOL_CLEARS =
    WINDOW_MAXIMIZE_GADGET | WINDOW_MINIMIZE_GADGET | WINDOW_MAXIMIZE | WINDOW_MINIMIZE;
constexpr GtkStateType COLORED_STATES[] = {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT};

ObjectTable* window_table = nullptr;

// Set by any window's configure notification, cleared by window_open: tells the
// opening that the window manager has placed the new window.
bool window_configured = false;

gpointer number_as_data(object_number number) {
    return reinterpret_cast<gpointer>(number);
}

object_number number_from_data(gpointer data) {
    return reinterpret_cast<object_number>(data);
}

int data_int(GtkWidget* widget, const char* key) {
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), key));
}

void set_data_int(GtkWidget* widget, const char* key, int value) {
    g_object_set_data(G_OBJECT(widget), key, GINT_TO_POINTER(value));
}

bool is_disabled(GtkWidget* window) {
    return data_int(window, "wg_disabled") != 0;
}

WindowRecord* find_window(object_number number) {
    if (window_table == nullptr) {
        return nullptr;
    }
    return static_cast<WindowRecord*>(registry_lookup(window_table, number));
}

void push_window_event(gpointer number, int code) {
    event_push(code, 0, static_cast<int>(number_from_data(number)), 0, nullptr, nullptr, 0);
}

gboolean on_configure(GtkWidget* window, GdkEventConfigure* event, gpointer number) {
    if (event->width != data_int(window, "wg_previous_width") ||
        event->height != data_int(window, "wg_previous_height")) {
        set_data_int(window, "wg_previous_width", event->width);
        set_data_int(window, "wg_previous_height", event->height);
        if (!is_disabled(window)) {
            push_window_event(number, EVENT_SIZE_WINDOW);
        }
    } else if (event->x != data_int(window, "wg_previous_x") ||
               event->y != data_int(window, "wg_previous_y")) {
        set_data_int(window, "wg_previous_x", event->x);
        set_data_int(window, "wg_previous_y", event->y);
        push_window_event(number, EVENT_MOVE_WINDOW);
    }
    window_configured = true;
    return FALSE;
}

gboolean on_window_state(GtkWidget*, GdkEventWindowState* event, gpointer number) {
    bool iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    bool maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        push_window_event(number, iconified   ? EVENT_MINIMIZE_WINDOW
                                  : maximized ? EVENT_MAXIMIZE_WINDOW
                                              : EVENT_RESTORE_WINDOW);
    } else if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) {
        push_window_event(number, maximized ? EVENT_MAXIMIZE_WINDOW : EVENT_RESTORE_WINDOW);
    }
    return FALSE;
}

// Always handled: the toolkit never destroys a window on its own, the
// application decides what a close request means.
gboolean on_delete(GtkWidget* window, GdkEvent*, gpointer number) {
    if (!is_disabled(window)) {
        push_window_event(number, EVENT_CLOSE_WINDOW);
    }
    return TRUE;
}

gboolean on_focus_in(GtkWidget* window, GdkEventFocus*, gpointer number) {
    if (!is_disabled(window)) {
        push_window_event(number, EVENT_ACTIVATE_WINDOW);
    }
    return FALSE;
}

gboolean on_focus_out(GtkWidget* window, GdkEventFocus*, gpointer number) {
    if (!is_disabled(window)) {
        push_window_event(number, EVENT_DEACTIVATE_WINDOW);
    }
    return FALSE;
}

gboolean on_motion(GtkWidget* window, GdkEventMotion*, gpointer number) {
    if (!is_disabled(window)) {
        push_window_event(number, EVENT_MOUSE_MOVE);
    }
    return FALSE;
}

// Added with gdk_threads_add_timeout, so it runs holding gui_lock; the
// reference taken when it was added keeps the window object valid even if the
// window was destroyed within the delay (then the call only sets a field).
gboolean restore_focus(gpointer data) {
    auto* window = static_cast<GtkWidget*>(data);
    gtk_window_set_accept_focus(GTK_WINDOW(window), TRUE);
    g_object_unref(window);
    return FALSE;
}

gboolean on_expose(GtkWidget* area, GdkEventExpose*, gpointer number) {
    push_window_event(number, EVENT_REPAINT);
    GtkWidget* window = gtk_widget_get_toplevel(area);
    if (GTK_IS_WINDOW(window) && data_int(window, "wg_restore_focus") != 0) {
        set_data_int(window, "wg_restore_focus", 0);
        gdk_threads_add_timeout(FOCUS_RESTORE_DELAY_MS, restore_focus, g_object_ref(window));
    }
    return FALSE;
}

gboolean on_button(GtkWidget*, GdkEventButton* event, gpointer number) {
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
        push_window_event(number, EVENT_LEFT_DOUBLE_CLICK);
    } else if (event->type == GDK_BUTTON_RELEASE && event->button == 1) {
        push_window_event(number, EVENT_LEFT_CLICK);
    } else if (event->type == GDK_BUTTON_RELEASE && event->button == 3) {
        push_window_event(number, EVENT_RIGHT_CLICK);
    }
    return FALSE;
}

// The single place where a window's record is released, whoever destroyed it.
void on_destroy(GtkWidget* window, gpointer data) {
    object_number number = number_from_data(data);
    WindowRecord* record = find_window(number);
    if (record == nullptr || record->widget != window) {
        return;
    }
    if (record->accelerators != nullptr) {
        g_object_unref(record->accelerators);
    }
    if (record->spare_area != nullptr) {
        gtk_widget_destroy(record->spare_area);
        g_object_unref(record->spare_area);
    }
    for (GSList* timer = record->timers; timer != nullptr; timer = timer->next) {
        g_source_remove(GPOINTER_TO_UINT(timer->data));
    }
    g_slist_free(record->timers);
    event_discard_window(static_cast<int>(number));
    registry_release(window_table, number);
}

// The record the window will fill, and its number (the automatic one for
// OBJECT_ANY). An open window under an explicit number is closed before its
// slot is taken, so that the toolkit work of the closing does not run under
// the table's lock.
WindowRecord* allocate_window(object_number* number) {
    if (*number != OBJECT_ANY && find_window(*number) != nullptr) {
        window_close(*number);
    }
    auto* record = static_cast<WindowRecord*>(registry_allocate(window_table, *number));
    if (record != nullptr && *number == OBJECT_ANY) {
        *number = registry_number_of(window_table, record);
    }
    return record;
}

// The toplevel with its title and default size, at (x, y) unless it is to be
// centred.
GtkWidget* new_toplevel(int x, int y, int width, int height, const char* title, int flags) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (window == nullptr) {
        return nullptr;
    }
    g_object_set_data(G_OBJECT(window), "Window", window);
    gtk_window_set_title(GTK_WINDOW(window), text_to_toolkit(title).get());
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    set_data_int(window, "wg_previous_width", width);
    set_data_int(window, "wg_previous_height", height);
    if (!(flags & (WINDOW_SCREEN_CENTERED | WINDOW_PARENT_CENTERED))) {
        gtk_widget_set_uposition(window, x, y);
    }
    return window;
}

struct WindowHints {
    int decorations;
    int functions;
};

// A resizable window may be dragged down to 30 x 30; any other is fixed at its
// size. The decorations and functions start from that choice.
WindowHints apply_size_behaviour(GtkWidget* window, int width, int height, int flags) {
    WindowHints hints{};
    if (flags & (WINDOW_SIZE_GADGET | WINDOW_MAXIMIZE_GADGET)) {
        gtk_widget_set_size_request(window, SMALLEST_SIZE, SMALLEST_SIZE);
        hints.functions = GDK_FUNC_RESIZE | GDK_FUNC_MOVE | GDK_FUNC_CLOSE;
        hints.decorations = GDK_DECOR_BORDER | GDK_DECOR_RESIZEH;
    } else {
        gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
        gtk_widget_set_size_request(window, width, height);
        hints.functions = GDK_FUNC_MOVE | GDK_FUNC_CLOSE;
        hints.decorations =
            (flags == 0 || flags == WINDOW_INVISIBLE) ? GDK_DECOR_TITLE | GDK_DECOR_BORDER : 0;
    }
    return hints;
}

// The title-bar buttons and menu that the flags ask for; border and title always.
WindowHints add_gadget_hints(WindowHints hints, int flags) {
    if (flags & WINDOW_MINIMIZE_GADGET) {
        hints.functions |= GDK_FUNC_MINIMIZE;
        hints.decorations |= GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MINIMIZE;
    }
    if (flags & WINDOW_MAXIMIZE_GADGET) {
        hints.functions |= GDK_FUNC_MAXIMIZE;
        hints.decorations |= GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MAXIMIZE;
    }
    if (flags & WINDOW_SYSTEM_MENU) {
        hints.decorations |= GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU;
    }
    hints.decorations |= GDK_DECOR_BORDER | GDK_DECOR_TITLE;
    if (flags & WINDOW_BORDERLESS) {
        hints.decorations = 0;
    }
    return hints;
}

// Size behaviour, window type, decorations and window-manager functions;
// realizes the window. Returns the flag word with WINDOW_TOOL's clearings.
int set_size_and_decorations(GtkWidget* window, int width, int height, int flags) {
    WindowHints hints = apply_size_behaviour(window, width, height, flags);
    gtk_widget_realize(window);
    if (flags & WINDOW_TOOL) {
        flags &= ~TOOL_CLEARS;
        gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_UTILITY);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), FALSE);
        gtk_window_set_skip_pager_hint(GTK_WINDOW(window), FALSE);
    }
    hints = add_gadget_hints(hints, flags);
    GdkWindow* own_window = gtk_widget_get_window(window);
    gdk_window_set_decorations(own_window, static_cast<GdkWMDecoration>(hints.decorations));
    gdk_window_set_functions(own_window, static_cast<GdkWMFunction>(hints.functions));
    return flags;
}

void center_over_parent(GtkWidget* window, GtkWidget* parent) {
    if (parent == nullptr || gtk_widget_get_window(parent) == nullptr) {
        return;
    }
    GdkRectangle over{};
    GdkRectangle own{};
    gdk_window_get_frame_extents(gtk_widget_get_window(parent), &over);
    gdk_window_get_frame_extents(gtk_widget_get_window(window), &own);
    int width = data_int(window, "wg_previous_width");
    int height = data_int(window, "wg_previous_height");
    if (width == 0) {
        width = own.width;
    }
    if (height == 0) {
        height = own.height;
    }
    gtk_widget_set_uposition(window, over.x + over.width / 2 - width / 2,
                             over.y + over.height / 2 - height / 2);
}

void center(GtkWidget* window, GtkWidget* parent, int flags) {
    if (flags & WINDOW_SCREEN_CENTERED) {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    } else if (flags & WINDOW_PARENT_CENTERED) {
        center_over_parent(window, parent);
    }
}

void build_widget_tree(GtkWidget* window, object_number number) {
    GtkWidget* vbox = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), vbox);
    g_object_set_data(G_OBJECT(window), "wg_vbox", vbox);
    GtkWidget* area = gadget_area_new();
    gtk_box_pack_start(GTK_BOX(vbox), area, TRUE, TRUE, 0);
    g_object_set_data(G_OBJECT(window), "wg_gadgetlist", area);

    gpointer data = number_as_data(number);
    g_signal_connect(area, "expose-event", G_CALLBACK(on_expose), data);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(area, "button-press-event", G_CALLBACK(on_button), data);
    g_signal_connect(area, "button-release-event", G_CALLBACK(on_button), data);
    gtk_widget_show_all(vbox);
}

void connect_window_signals(GtkWidget* window, object_number number) {
    gpointer data = number_as_data(number);
    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), data);
    g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), data);
    g_signal_connect(window, "window-state-event", G_CALLBACK(on_window_state), data);
    g_object_set_data(G_OBJECT(window), "wg_id", data);
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), data);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus_in), data);
    g_signal_connect(window, "focus-out-event", G_CALLBACK(on_focus_out), data);
    g_signal_connect(window, "motion-notify-event", G_CALLBACK(on_motion), data);
}

// The record, with the window's accelerator group and spare area.
void fill_record(WindowRecord* record, GtkWidget* window, GtkWidget* parent, int flags) {
    GtkAccelGroup* accelerators = gtk_accel_group_new();
    g_object_set_data(G_OBJECT(window), "wg_accelerators", accelerators);
    gtk_window_add_accel_group(GTK_WINDOW(window), accelerators);
    GtkWidget* spare_area = gadget_area_new();
    g_object_ref_sink(spare_area);
    *record =
        WindowRecord{window, parent, accelerators,       spare_area,        nullptr, -1, flags,
                     0,      0,      LARGEST_SIZE_LIMIT, LARGEST_SIZE_LIMIT};
}

void open_in_state(object_number number, int flags) {
    if (flags & WINDOW_MAXIMIZE) {
        window_set_state(number, STATE_MAXIMIZED);
    } else if (flags & WINDOW_MINIMIZE) {
        window_set_state(number, STATE_MINIMIZED);
    }
}

// Shows the window and runs the toolkit until the window manager has placed it,
// or nothing has happened for half a second. Only the toolkit runs here: events
// already queued, and events of other windows or posted by workers meanwhile,
// stay queued for the application; the new window's own signals of this phase
// are dropped. WINDOW_NO_ACTIVATE shows it without taking the focus; the
// window accepts the focus again after its first repaint.
void show_and_wait_for_placement(GtkWidget* window, object_number number, int flags) {
    if (flags & WINDOW_NO_ACTIVATE) {
        gtk_window_set_accept_focus(GTK_WINDOW(window), FALSE);
        set_data_int(window, "wg_restore_focus", 1);
    }
    gtk_widget_show(window);
    while (!window_configured && event_run_toolkit(FIRST_CONFIGURATION_WAIT_MS)) {
    }
    event_discard_window_signals(static_cast<int>(number));
}

void close_windows(const std::vector<object_number>& numbers) {
    for (object_number number : numbers) {
        window_close(number);
    }
}

// Explicit numbers ascending, then automatic ones oldest first. The numbers are
// collected first so that no toolkit iteration runs under the table's lock.
std::vector<object_number> open_window_numbers() {
    std::vector<object_number> numbers;
    if (window_table == nullptr) {
        return numbers;
    }
    registry_for_each(window_table, [&numbers](object_number number, void*) {
        numbers.push_back(number);
        return true;
    });
    return numbers;
}

} // namespace

void window_init() {
    gadget_state_register();
    registry_create_once(&window_table, sizeof(WindowRecord), TABLE_GROWTH, window_close);
}

object_number window_open_with_parent(object_number number, int x, int y, int width, int height,
                                      const char* title, int flags, GtkWidget* parent) {
    if (x == POSITION_UNSET || y == POSITION_UNSET) {
        x = -1;
        y = -1;
    }
    window_init();
    bool automatic = number == OBJECT_ANY;
    WindowRecord* record = allocate_window(&number);
    if (record == nullptr) {
        return 0;
    }
    window_configured = false;
    GtkWidget* window = new_toplevel(x, y, width, height, title, flags);
    if (window == nullptr) {
        return 0;
    }
    flags = set_size_and_decorations(window, width, height, flags);
    center(window, parent, flags);
    build_widget_tree(window, number);
    if (parent != nullptr) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(parent));
    }
    connect_window_signals(window, number);
    fill_record(record, window, parent, flags);
    open_in_state(number, flags);
    if (!(flags & WINDOW_INVISIBLE)) {
        show_and_wait_for_placement(window, number, flags);
    }
    event_flush_toolkit();
    if (!(flags & WINDOW_NO_GADGETS)) {
        window_use_gadget_area(window);
    }
    return automatic ? number : reinterpret_cast<object_number>(window);
}

object_number window_open(object_number number, int x, int y, int width, int height,
                          const char* title, int flags) {
    return window_open_with_parent(number, x, y, width, height, title, flags, nullptr);
}

GtkWidget* window_handle(object_number number) {
    WindowRecord* record = find_window(number);
    return record != nullptr ? record->widget : nullptr;
}

void window_set_color(object_number number, int color) {
    WindowRecord* record = find_window(number);
    if (record == nullptr) {
        return;
    }
    record->color = color;
    auto* area =
        static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(record->widget), "wg_gadgetlist"));
    if (area == nullptr) {
        area = record->widget;
    }
    GtkRcStyle* style = gtk_widget_get_modifier_style(area);
    auto red = static_cast<guint16>((color & 0xFF) * 256);
    auto green = static_cast<guint16>(color & 0xFF00);
    auto blue = static_cast<guint16>(((color >> 16) & 0xFF) * 256);
    for (GtkStateType state : COLORED_STATES) {
        if (color == -1) {
            style->color_flags[state] =
                static_cast<GtkRcFlags>(style->color_flags[state] & ~(GTK_RC_BG | GTK_RC_BASE));
        } else {
            style->color_flags[state] =
                static_cast<GtkRcFlags>(style->color_flags[state] | GTK_RC_BG | GTK_RC_BASE);
            style->bg[state] = GdkColor{0, red, green, blue};
            style->base[state] = GdkColor{0, red, green, blue};
        }
    }
    gtk_widget_modify_style(area, style);
    gtk_widget_queue_draw(area);
}

void window_set_state(object_number number, int state) {
    WindowRecord* record = find_window(number);
    if (record == nullptr) {
        return;
    }
    GtkWindow* window = GTK_WINDOW(record->widget);
    if (state == STATE_MAXIMIZED) {
        gtk_window_maximize(window);
        gtk_window_deiconify(window);
    } else if (state == STATE_MINIMIZED) {
        gtk_window_iconify(window);
    } else {
        gtk_window_unmaximize(window);
        gtk_window_deiconify(window);
    }
}

void window_close(object_number number) {
    if (number == OBJECT_ANY) {
        close_windows(open_window_numbers());
        return;
    }
    WindowRecord* record = find_window(number);
    if (record == nullptr) {
        return;
    }
    // The "destroy" handler releases the record and drops the queued events.
    gtk_widget_destroy(record->widget);
    event_flush_toolkit();
}

void window_close_all() {
    close_windows(open_window_numbers());
}

int window_number_of(GtkWidget* widget) {
    if (widget == nullptr) {
        return -1;
    }
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    // Only windows made here carry a number; any other toplevel (a dialog) has
    // none, and its wg_id would read as window 0.
    if (!gtk_widget_is_toplevel(toplevel) ||
        g_object_get_data(G_OBJECT(toplevel), "Window") != toplevel) {
        return -1;
    }
    return static_cast<int>(number_from_data(g_object_get_data(G_OBJECT(toplevel), "wg_id")));
}
