// Windows: numbered top-level GTK+ windows with a fixed-position gadget area.
// Every operation runs on the main thread, which holds gui_lock; none takes it.
#pragma once

#include "gui/registry.h"

#include <gtk/gtk.h>

// Flags of window_open.
inline constexpr int WINDOW_INVISIBLE = 0x1;
inline constexpr int WINDOW_SIZE_GADGET = 0x2;
inline constexpr int WINDOW_SYSTEM_MENU = 0x4;
inline constexpr int WINDOW_MAXIMIZE_GADGET = 0x10;
inline constexpr int WINDOW_MINIMIZE_GADGET = 0x20;
inline constexpr int WINDOW_SCREEN_CENTERED = 0x40;
inline constexpr int WINDOW_BORDERLESS = 0x80;
inline constexpr int WINDOW_PARENT_CENTERED = 0x100;
inline constexpr int WINDOW_MAXIMIZE = 0x200;
inline constexpr int WINDOW_MINIMIZE = 0x400;
inline constexpr int WINDOW_TOOL = 0x800;
inline constexpr int WINDOW_NO_GADGETS = 0x1000;
inline constexpr int WINDOW_NO_ACTIVATE = 0x2000;

// Start-up: the window table (and the gadget state thread area it shares with
// the gadget layer).
void window_init();

// Opens a window; see window.cpp for the order of steps. Returns the automatic
// number for OBJECT_ANY, the GtkWindow for an explicit number, 0 on failure.
// An explicit number that names an open window replaces it.
object_number window_open(object_number number, int x, int y, int width, int height,
                          const char* title, int flags);
object_number window_open_with_parent(object_number number, int x, int y, int width, int height,
                                      const char* title, int flags, GtkWidget* parent);

// The GtkWindow, or none.
GtkWidget* window_handle(object_number number);

// Background colour 0xBBGGRR of the gadget area; -1 gives the theme's back.
void window_set_color(object_number number, int color);

// WINDOW_MAXIMIZE maximizes, WINDOW_MINIMIZE minimizes, anything else restores.
void window_set_state(object_number number, int state);

// Closes one window, or every window for -1.
void window_close(object_number number);

// Shutdown: closes every open window.
void window_close_all();

// Makes the window's gadget area the calling thread's gadget container; returns
// the previous owner. With none, only returns the current owner.
GtkWidget* window_use_gadget_area(GtkWidget* widget);

// The number of the window that contains the widget, -1 when it has no toplevel.
int window_number_of(GtkWidget* widget);
