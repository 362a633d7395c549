// Text conversion at the toolkit boundary. Program texts are zero-terminated
// 8-bit ISO-8859-15; toolkit texts are UTF-8.
#pragma once

#include <glib.h>
#include <memory>

struct GFreeDeleter {
    void operator()(void* memory) const { g_free(memory); }
};

// A toolkit text owned by the caller; released with g_free.
using ToolkitText = std::unique_ptr<char, GFreeDeleter>;

// The program text as UTF-8, never null: a null text becomes "", a text that
// does not convert is handed over unconverted. Any thread.
ToolkitText text_to_toolkit(const char* text);

// A toolkit text (may be null) as a program text in the calling thread's text
// storage: U+0000..U+00FF become the byte of the same value, every other
// character, whole or broken, a single "?", stray bytes nothing. Any thread.
const char* text_from_toolkit(const char* text);
