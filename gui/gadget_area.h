// Gadget areas: the GtkFixed of a window into which the calling thread's
// constructors put gadgets, and which window's area is current on a thread.
//
// The current area is part of the thread's gadget state (gui/gadget_state.h).
// Each widget that has been made current keeps a copy of the container part of
// that state under wg_gadgetstack (its widget, current container, stack and
// depth), saved when another widget takes over and restored when it becomes
// current again. Main thread, holding gui_lock.
#pragma once

#include <gtk/gtk.h>

// A new, empty gadget area: a GtkFixed with its own GDK window, not yet shown.
GtkWidget* gadget_area_new();

// Makes the widget's gadget area the calling thread's gadget container and the
// widget the current owner; returns the previous owner. The previous owner's
// container state is saved with it (wg_gadgetstack) and restored when it
// becomes current again. For a GtkWindow it is the window's wg_gadgetlist; a
// window not made by window_open gets an area added at the start of its box,
// and without a box nothing changes. Any other widget is its own area. With
// none, only returns the current owner. A widget that is destroyed stops being
// the owner.
GtkWidget* window_use_gadget_area(GtkWidget* widget);
