// What the window manager and the X server see of a toplevel: its window
// properties and its geometry on the screen, read through the toolkit's own
// display connection. Main thread, holding gui_lock.
#pragma once

#include <gtk/gtk.h>
#include <optional>
#include <string>
#include <vector>

// The 32-bit items of a property of the toplevel's X window; empty when the
// property is absent.
std::vector<long> x_property_items(GtkWidget* toplevel, const char* property);

// _MOTIF_WM_HINTS: what the program asked the window manager for.
struct MotifHints {
    long flags;
    long functions;
    long decorations;
};
std::optional<MotifHints> motif_hints(GtkWidget* toplevel);

// WM_NORMAL_HINTS: the flags (USPosition 1, PPosition 4, PMinSize 16, PMaxSize
// 32) and the size limits.
struct SizeHints {
    long flags;
    long min_width;
    long min_height;
    long max_width;
    long max_height;
};
inline constexpr long SIZE_HINT_USER_POSITION = 1;
inline constexpr long SIZE_HINT_PROGRAM_POSITION = 4;
inline constexpr long SIZE_HINT_MIN_SIZE = 16;
inline constexpr long SIZE_HINT_MAX_SIZE = 32;
std::optional<SizeHints> size_hints(GtkWidget* toplevel);

// _NET_FRAME_EXTENTS: the window manager's frame around the client area.
struct FrameExtents {
    long left;
    long right;
    long top;
    long bottom;
};
std::optional<FrameExtents> frame_extents(GtkWidget* toplevel);

// The names of the atoms in an atom-list property (_NET_WM_WINDOW_TYPE,
// _NET_WM_ALLOWED_ACTIONS).
std::vector<std::string> x_property_atom_names(GtkWidget* toplevel, const char* property);

// The client area's position on the screen and its size, as the X server has it.
GdkRectangle client_geometry(GtkWidget* toplevel);

// The X window id, as wmctrl -i and xdotool take it ("0x...").
std::string x_window_id(GtkWidget* toplevel);
