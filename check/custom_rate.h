// Any baud rate a driver accepts, standard or not (10400 for K-line), through
// Linux's termios2 interface. Its header clashes with <termios.h>, so this
// pair keeps it to itself and speaks in plain descriptors and numbers.
#pragma once

#include <optional>

// Sets the line's input and output speed to rate baud (BOTHER), leaving every
// other setting as it is. True when the driver took the call; what it really
// runs at is line_rate's answer.
bool set_line_rate(int descriptor, int rate);

// The output speed the line runs at, as TCGETS2 reports it; none on error.
std::optional<int> line_rate(int descriptor);
