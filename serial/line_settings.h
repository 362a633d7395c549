// The line settings of a serial port as one terminal-settings record.
#pragma once

#include <optional>
#include <termios.h>

// The settings record for serial_open's line settings, or none when one of
// them is refused (see serial_open in serial/serial_port.h for the values).
// The record starts all zero; it holds raw, non-canonical input without echo,
// signals or output processing, the speed in the control-mode word (the
// separate speed fields stay 0), VEOF 4, VMIN 1, VTIME 0, VSTART 21, VSTOP 23.
// Any thread; takes no lock and touches no device.
std::optional<termios> serial_line_settings(int baud_rate, int parity, int data_bits,
                                            float stop_bits, int handshake);
