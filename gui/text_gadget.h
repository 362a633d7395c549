// Text gadgets: a static label, optionally in a sunken frame, that the program
// (not the user) changes. Made on the main thread in the calling thread's
// current gadget container; the generic operations of gui/gadget.h apply.
#pragma once

#include "base/registry.h"

// Flags of text_gadget_create. Without the two alignment bits the text is
// left-aligned and wraps onto as many lines as the width needs.
inline constexpr int TEXT_ALIGN_RIGHT = 1;  // right-aligned, one line
inline constexpr int TEXT_ALIGN_CENTRE = 2; // centred, one line (ignored with TEXT_ALIGN_RIGHT)
inline constexpr int TEXT_FRAMED = 4;       // inside a frame with a sunken border

// Puts a label of width x height at (x, y), its text starting at the top, with
// text (a program text; null is the empty text). number is explicit (a gadget
// with that number is replaced) or OBJECT_ANY. Returns the automatic number for
// OBJECT_ANY, the GtkLabel for an explicit number, 0 when no widget can be
// made or the thread has no gadget container. Main thread, holding gui_lock.
object_number text_gadget_create(object_number number, int x, int y, int width, int height,
                                 const char* text, int flags);

// text_gadget_create with flags 0.
object_number text_gadget_create_plain(object_number number, int x, int y, int width, int height,
                                       const char* text);
