// Text conversion out of the toolkit: UTF-8 back to zero-terminated 8-bit
// program texts. Needs nothing of the toolkit, so code that does not link
// GTK+ can use it.
#pragma once

// A toolkit text (may be null) as a program text in the calling thread's text
// storage, the exact inverse of text_to_toolkit: every character ISO-8859-15
// has becomes its byte (U+20AC the byte 0xA4, U+00E9 the byte 0xE9), every
// other character a single "?". Strict UTF-8: an overlong form, a surrogate, a
// value above U+10FFFF or a sequence that breaks off gives one "?" as well,
// stray continuation bytes and 0xF8..0xFF give nothing, and a sequence cut off
// by the end of the text is dropped. Any thread.
const char* text_from_toolkit(const char* text);
