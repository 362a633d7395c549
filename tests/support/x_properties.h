// What the window manager and the X server see of a toplevel: its window
// properties and its geometry on the screen. One reader over Xlib, for the
// tests' own windows (through the toolkit's display connection, main thread
// holding gui_lock) and for the program's windows (through a connection of the
// test's own).
#pragma once

#include <gtk/gtk.h>
#include <optional>
#include <string>
#include <vector>

// The window of a toplevel as the X server and xdotool know it, on the
// toolkit's connection.
struct _XDisplay; // Xlib's Display; its header's macros stay out of the tests
struct XWindow {
    _XDisplay* display;
    unsigned long id;
};
XWindow x_window(GtkWidget* toplevel);

// The 32-bit items of a property (Xlib hands them over as longs; atoms as atom
// numbers); empty when the property is absent.
std::vector<long> x_property_items(XWindow window, const char* property);

// The names of the atoms in an atom-list property (_NET_WM_WINDOW_TYPE,
// _NET_WM_ALLOWED_ACTIONS).
std::vector<std::string> x_property_atom_names(XWindow window, const char* property);

// _MOTIF_WM_HINTS: what the program asked the window manager for.
struct MotifHints {
    long flags;
    long functions;
    long decorations;
};
std::optional<MotifHints> motif_hints(XWindow window);

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
std::optional<SizeHints> size_hints(XWindow window);

// _NET_FRAME_EXTENTS: the window manager's frame around the client area.
struct FrameExtents {
    long left;
    long right;
    long top;
    long bottom;
};
std::optional<FrameExtents> frame_extents(XWindow window);

// The client area's position on the screen and its size, and the screen's
// size, as the X server has them; nothing when the window cannot be read.
struct ClientGeometry {
    int x;
    int y;
    int width;
    int height;
    int screen_width;
    int screen_height;
};
std::optional<ClientGeometry> client_geometry(XWindow window);

// The X window id as wmctrl -i takes it ("0x...").
std::string x_window_id(unsigned long id);
