// Text conversion at the toolkit boundary. Program texts are zero-terminated
// 8-bit ISO-8859-15; toolkit texts are UTF-8.
#pragma once

#include "base/owners.h"

#include <glib.h>

// A toolkit text owned by the caller; released with g_free.
using ToolkitText = OwnedBy<char, g_free>;

// The program text as UTF-8, never null: a null text becomes "", a text that
// does not convert is handed over unconverted. Any thread.
ToolkitText text_to_toolkit(const char* text);
