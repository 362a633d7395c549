// Windows: numbered top-level GTK+ windows with a fixed-position gadget area.
//
// Widget tree: the GtkWindow holds a GtkVBox (object data wg_vbox) whose first
// child is the gadget area, a GtkFixed with its own GDK window (wg_gadgetlist);
// the status bar goes into the same box. The window carries its number under
// wg_id and itself under "Window". Toolkit signals of the window and its gadget
// area become events of the event queue, with the window's number, object 0
// and detail 0; a close request from the window manager only queues
// EVENT_CLOSE_WINDOW, it never destroys the window.
//
// Every operation runs on the main thread, which holds gui_lock; none takes it.
// Lock order: the window table's lock is never held across a toolkit iteration.
#pragma once

#include "base/registry.h"

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

// Start-up, once, after the event queue: the window table (growth 16, released
// with window_close) and the gadget state thread area, which a window's opening
// reaches through its gadget area. Main thread, before any worker exists.
// Later calls do nothing.
void window_init();

// Opens a window of width x height client pixels at (x, y) with the title
// (program text) and the flag word:
// - WINDOW_SIZE_GADGET or WINDOW_MAXIMIZE_GADGET: resizable down to 30 x 30;
//   otherwise fixed at width x height.
// - decorations: border and title always; window menu with WINDOW_SYSTEM_MENU,
//   minimize/maximize buttons with their gadget flags, resize handles when
//   resizable; none at all with WINDOW_BORDERLESS. Functions: move and close,
//   resize when resizable, minimize/maximize with their gadget flags.
// - WINDOW_SCREEN_CENTERED / WINDOW_PARENT_CENTERED: x and y are ignored; the
//   first centres on the screen, the second over the parent (if one is given).
//   x or y of -65535 leaves the position to the window manager.
// - WINDOW_TOOL: a utility window; the minimize/maximize flags are cleared.
// - WINDOW_MAXIMIZE / WINDOW_MINIMIZE: opened in that state.
// - Unless WINDOW_INVISIBLE the window is shown and the call runs the toolkit
//   until the window manager has placed it (or nothing happened for 500 ms);
//   the new window's own signals of that phase are not queued, every other
//   queued or posted event stays queued. WINDOW_NO_ACTIVATE shows it without
//   taking the focus (the window accepts the focus again 50 ms after its first
//   repaint).
// - Unless WINDOW_NO_GADGETS its gadget area becomes the calling thread's
//   gadget container.
// Returns the automatic number for OBJECT_ANY, the GtkWindow for an explicit
// number, 0 on failure. An explicit number that names an open window closes
// that window first (its widget is destroyed, its queued events dropped).
object_number window_open(object_number number, int x, int y, int width, int height,
                          const char* title, int flags);
// As window_open; the window is transient for parent (may be none).
object_number window_open_with_parent(object_number number, int x, int y, int width, int height,
                                      const char* title, int flags, GtkWidget* parent);

// The GtkWindow, or none when the number names no open window.
GtkWidget* window_handle(object_number number);

// Background colour 0xBBGGRR of the gadget area in the normal, active and
// prelight states; -1 gives the theme's back. Nothing for an unknown number.
void window_set_color(object_number number, int color);

// WINDOW_MAXIMIZE maximizes, WINDOW_MINIMIZE minimizes, anything else restores.
// Nothing for an unknown number.
void window_set_state(object_number number, int state);

// Closes one window, or every window for OBJECT_ANY (-1): destroys the widget,
// which releases the number and drops the window's queued events, then runs the
// toolkit's pending work. Nothing for an unknown number.
void window_close(object_number number);

// Shutdown: closes every open window, explicit numbers ascending, then
// automatic ones oldest first.
void window_close_all();

// The number of the window (made by window_open) that contains the widget; -1
// when the widget's toplevel is no such window.
int window_number_of(GtkWidget* widget);
