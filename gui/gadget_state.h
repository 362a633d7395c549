// The gadget state: a per-thread area shared by the gadget areas
// (gui/gadget_area.h) and the gadget layer. It names the container into which
// the calling thread's constructors put new gadgets, the stack of nested
// containers, the default gadget font and the window whose gadget area is
// current.
#pragma once

#include <gtk/gtk.h>

inline constexpr int GADGET_CONTAINER_STACK_SIZE = 100;

struct GadgetState {
    GtkWidget* container;                          // current gadget container (a GtkFixed)
    int depth;                                     // entries used in stack
    GtkWidget* stack[GADGET_CONTAINER_STACK_SIZE]; // nested containers
    PangoFontDescription* default_font;            // 0: the theme's font
    GtkWidget* owner;                              // window whose gadget area is current
};

// Registers the thread area (once; later calls do nothing). Main thread,
// start-up, before any worker exists.
void gadget_state_register();

// The calling thread's gadget state, zero-filled on a thread's first use.
GadgetState* gadget_state();
