// Fonts: numbered Pango font descriptions made from a family name, a size in
// points and bold/italic flags. The gadget layer applies them to gadgets.
//
// Fonts are loaded, looked up and freed on the main thread. No operation takes
// gui_lock; the font table's own lock guards the table.
#pragma once

#include "base/registry.h"

#include <pango/pango.h>

// Flags of font_load; both may be combined. Without them weight and style are
// whatever the name gives (normal by default).
inline constexpr int FONT_WEIGHT_BOLD = 1;  // weight 700
inline constexpr int FONT_STYLE_ITALIC = 2; // italic style

// Start-up: creates the font table. Later calls do nothing.
void font_init();

// Makes a font from name (a program text read as a Pango description string; a
// family alone is enough; null counts as empty), size in points (it replaces
// any size the name gives; a negative size, or one too large for Pango units,
// leaves the name's size) and flags. An explicit number that names a font
// frees that font first. Returns the automatic number for OBJECT_ANY, the
// font's description for an explicit number, 0 when no description can be made
// or the number is refused (nothing is registered then).
object_number font_load(object_number number, const char* name, int size, int flags);

// font_load with flags 0.
object_number font_load_plain(object_number number, const char* name, int size);

// The font's description, owned by the font; none when the number names no font.
PangoFontDescription* font_handle(object_number number);

// Frees one font and its description, or every font for -1. Nothing for a
// number that names no font.
void font_free(object_number number);

// Shutdown: frees every font (explicit numbers ascending, then automatic ones
// oldest first).
void font_free_all();
