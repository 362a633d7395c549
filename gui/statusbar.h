// Status bars: a numbered row of text fields along the bottom of a window.
//
// A bar is built in two steps on one thread (the main thread, holding gui_lock):
// statusbar_create attaches an empty bar to a window and makes it the calling
// thread's bar under construction; each statusbar_add_field appends one field to
// it. statusbar_set_text then sets a field's text, alignment and border from any
// thread.
//
// Widget tree: the window's content box (its one child, a GtkVBox) holds the
// bar's GtkHBox, which holds one GtkFrame per field in the order added; each
// frame holds one GtkLabel. Field n (from 0) is the hbox's n-th child.
#pragma once

#include "base/registry.h"

#include <gtk/gtk.h>

// Flags of statusbar_set_text. Without border bits the field is sunken; without
// alignment bits the text is left-aligned. The text is always centred vertically.
inline constexpr int FIELD_SHADOW_OUT = 1;  // raised border
inline constexpr int FIELD_SHADOW_NONE = 2; // no border; wins over FIELD_SHADOW_OUT
inline constexpr int FIELD_CENTRED = 4;     // centred text
inline constexpr int FIELD_RIGHT = 8;       // right-aligned text; FIELD_CENTRED wins

// Width of statusbar_add_field: the field takes what the other fields leave.
inline constexpr int FIELD_FILL = -65535;

// Start-up, main thread before any worker exists: creates the status bar table
// and registers the per-thread build state. Later calls do nothing.
void statusbar_init();

// Attaches an empty bar to the window (a window made by window_open: its one
// child must be a box) at position 3 of the content box, or at its end when the
// box holds fewer children, and makes it the calling thread's bar under
// construction. An explicit number that names a bar releases it first. Returns
// the automatic number for OBJECT_ANY, the bar's GtkHBox for an explicit number,
// 0 when the window is none or has no content box, the hbox cannot be made or
// the number is refused. Main thread, holding gui_lock; takes the status bar
// table's lock for the record.
object_number statusbar_create(object_number number, GtkWidget* window);

// Appends a field width pixels wide to the calling thread's bar under
// construction: an empty, left-aligned label in a sunken frame at least 22
// pixels high. FIELD_FILL stretches the field over the rest of the bar; widths
// above 8192 are clamped to 8192, other negative widths leave the width to the
// label. Does nothing when the thread has no bar under construction or that bar
// has been destroyed. Main thread, holding gui_lock; takes the status bar
// table's lock to see that the bar still exists.
void statusbar_add_field(int width);

// Sets field `field` (from 0) of the bar to text (a program text; null counts
// as empty), and sets its alignment and border from flags (every call sets
// both, so flags 0 return the field to left-aligned and sunken). Does nothing
// when the number names no bar, when the bar is destroyed before the call gets
// gui_lock, or when the bar has no such field. Any thread: takes gui_lock (on
// the main thread nested in its own hold) and then the status bar table's lock,
// and flushes the display before releasing gui_lock.
void statusbar_set_text(object_number number, int field, const char* text, int flags);

// statusbar_set_text with flags 0.
void statusbar_set_text_plain(object_number number, int field, const char* text);

// Destroys the bar's widgets and releases its number; -1 releases every bar.
// Destroying the bar's window releases the bar the same way. Nothing for a
// number that names no bar. Main thread, holding gui_lock; the widgets are
// destroyed under the status bar table's lock.
void statusbar_release(object_number number);
