// Texts sent to a port in TEXT_FORMAT_UTF8. Paths are never converted: a
// file name is bytes, and re-encoding it would name another entry.
#pragma once

#include <string>

// The program text with every byte read as the character of the same value
// (ISO-8859-1): a byte below 0x80 is copied, a byte b from 0x80 up becomes the
// two bytes 0xC0 | (b >> 6) and 0x80 | (b & 0x3F). A null text gives "".
// Any thread; takes no lock.
std::string text_to_utf8(const char* text);
