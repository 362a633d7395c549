// Any baud rate a driver accepts, standard or not (10400 for K-line), and the
// line's whole settings saved and put back, through Linux's termios2
// interface. Its header clashes with <termios.h>, so this pair keeps it to
// itself and speaks in plain descriptors, numbers and opaque records.
#pragma once

#include <optional>

// Sets the line's input and output speed to rate baud (BOTHER), leaving every
// other setting as it is. True when the driver took the call; what it really
// runs at is line_rate's answer. Any thread; no lock.
[[nodiscard]] bool set_line_rate(int descriptor, int rate);

// The output speed the line runs at, as TCGETS2 reports it; none on error.
std::optional<int> line_rate(int descriptor);

// A line's settings as another program left them, a rate of its own included.
struct SavedLine {
    alignas(4) unsigned char raw[44];
};

// The settings the line has now; none when it has none (no terminal, gone).
std::optional<SavedLine> save_line(int descriptor);

// Puts saved settings back at once. False when the line refused them.
[[nodiscard]] bool restore_line(int descriptor, const SavedLine& saved);

// Sets and clears input-mode flags (termios values: PARMRK, IGNBRK, ...),
// leaving the rest of the line, a rate of its own included, as it is. False
// when the line refused the change.
[[nodiscard]] bool change_input_flags(int descriptor, unsigned set, unsigned clear);
