// Button gadgets: a push button, or a two-state button, with a text label.
// A user's click queues an EVENT_GADGET with detail DETAIL_CLICKED. Made on the
// main thread in the calling thread's current gadget container; the generic
// operations of gui/gadget.h apply.
#pragma once

#include "base/registry.h"

// Flags of button_gadget_create. Without the alignment bits the label is centred.
inline constexpr int BUTTON_ALIGN_RIGHT = 1; // label right-aligned
inline constexpr int BUTTON_ALIGN_LEFT = 2;  // label left-aligned (ignored with BUTTON_ALIGN_RIGHT)
inline constexpr int BUTTON_TOGGLE = 4;      // two-state button; gadget_set_state presses it
inline constexpr int BUTTON_WRAP = 16;       // label wraps onto several lines

// Puts a button of width x height at (x, y) showing text (a program text; null
// is the empty text). number is explicit (a gadget with that number is
// replaced) or OBJECT_ANY. Returns the automatic number for OBJECT_ANY, the
// GtkButton for an explicit number, 0 when no widget can be made or the thread
// has no gadget container. Main thread, holding gui_lock.
object_number button_gadget_create(object_number number, int x, int y, int width, int height,
                                   const char* text, int flags);

// button_gadget_create with flags 0.
object_number button_gadget_create_plain(object_number number, int x, int y, int width, int height,
                                         const char* text);
