// Text conversion out of the toolkit: UTF-8 back to zero-terminated 8-bit
// program texts. Needs nothing of the toolkit, so serial ports and directory
// listings use it without linking GTK+.
#pragma once

// A toolkit text (may be null) as a program text in the calling thread's text
// storage: U+0000..U+00FF become the byte of the same value, every other
// character, whole or broken, a single "?", stray bytes nothing. Any thread.
const char* text_from_toolkit(const char* text);
