// Numbered serial ports over the POSIX terminal interface: open with line
// settings, write, poll for waiting input, read, close. Every port is
// non-blocking: only serial_wait_input waits, and only as long as it is told.
//
// Ports live in an object table (base/registry.h). Each operation looks its
// port up and makes its system call while holding the table. Closing gives the
// record up under the same hold and closes the descriptor after dropping it,
// so a port closed by one thread (shutdown closing every port) is never read,
// written or polled afterwards by another thread through a stale or reused
// descriptor (the later calls return 0), and a close that is slow never keeps
// the table from the other threads. The
// calls made under the hold wait for the line at most as long as
// serial_wait_input is told to, so the hold is short.
// Lock order: the table's lock comes after the GUI lock (no operation here
// takes that one) and is held alone: nothing but the registry's own
// first-use lock is taken under it (see ARCHITECTURE.md).
#pragma once

#include "base/registry.h"
#include "serial/port_opening.h"

// Text format codes for serial_write; any other code behaves as PLAIN.
// PLAIN: the text's bytes as they are.
inline constexpr int TEXT_FORMAT_PLAIN = 24;
// UTF8: the text with every byte read as the character of the same value, in
// UTF-8 (see text_to_utf8).
inline constexpr int TEXT_FORMAT_UTF8 = 2;
// WIDE: one 16-bit unit per byte (the byte value zero-extended), each unit
// sent low byte first (UTF-16LE of ISO-8859-1), no terminating unit.
inline constexpr int TEXT_FORMAT_WIDE = 25;

// Creates the table of ports (growth step 16, serial_close as its release
// operation). Called at start-up on the main thread before any other serial
// operation; a second call does nothing.
void serial_init();

// Opens the device at path (its bytes as they are, never re-encoded) with
// O_RDWR | O_NOCTTY | O_NONBLOCK and gives it the line settings:
//   baud_rate: 0 (B0), 50, 75, 110, 150, 300, 600, 1200, 1800, 2400, 4800,
//              9600, 19200, 38400, 57600 or 115200; any other is refused.
//   parity:    1 odd, 2 even, 3 mark, 4 space; any other value means none.
//   data_bits: 5, 6, 7 or 8; any other is refused.
//   stop_bits: exactly 1.0 is one stop bit; anything else (NaN too) two.
//   handshake: 0 or 1 none, 2 RTS/CTS, 3 software flow control (XON/XOFF
//              with start character 21 and stop character 23);
//              negative or above 3 is refused.
//   input_buffer_size, output_buffer_size: accepted and not used.
// Every setting is checked before anything is opened. The port is opened by
// port_open (serial/port_opening.h): held for this program until it is closed
// (exclusive terminal and flock), so a port that another program holds is
// refused untouched; its line is saved and put back at the close. Input that
// arrived before the open is dropped, unless another process has the port
// open: that input is its own. The results of setting the line are not
// checked: a node that opens but refuses the settings still counts.
// number: an explicit number (0 or more) or OBJECT_ANY. An explicit number in
// use is closed only once the new device has opened; if the open fails the
// old port stays open under that number.
// Returns the descriptor for an explicit number, the automatic number for
// OBJECT_ANY; 0 for a null path, a refused setting, a device that cannot be
// opened or is held by another program, or a table that cannot take the
// port (nothing is left open then).
// Any thread; takes the table's lock after the device has opened.
object_number serial_open(object_number number, const char* path, int baud_rate, int parity,
                          int data_bits, float stop_bits, int handshake, int input_buffer_size,
                          int output_buffer_size);

// Puts a port opened by port_open into the table under number (explicit or
// OBJECT_ANY), as serial_open does with the port it opened; the table then
// closes it with its saved line. Returns what serial_open returns; 0 for a
// port that is not open or a table that cannot take it (it is closed then).
// Any thread; takes the table's lock.
object_number serial_adopt(object_number number, OpenPort port);

// Sends the text, up to its terminating zero, in the given format, in one
// write with no retry: a full output queue may take fewer bytes or none.
// Returns the number of bytes written; 0 for a null or empty text, a number
// that names no open port or a failed write. Any thread; holds the table.
int serial_write(object_number number, const char* text, int format);

// serial_write with TEXT_FORMAT_PLAIN.
int serial_write_string(object_number number, const char* text);

// The number of received bytes waiting to be read; 0 if none, on error, or
// for a number that names no open port. Any thread; holds the table.
int serial_input_available(object_number number);

// Waits up to timeout_ms milliseconds for input on the port and returns the
// number of bytes waiting as soon as there are any. Returns 0 once the whole
// timeout has passed without input, also for a port that reports an error or
// a hang-up (a device unplugged), so a dead port is polled no faster than a
// silent one, and at once for a number that names no open port. Any thread;
// holds the table while it waits for input (a close from another thread waits
// at most timeout_ms), not while it sleeps out an error.
int serial_wait_input(object_number number, int timeout_ms);

// Whether the port's device has gone: the line hung up (an adapter
// unplugged) or fails with an I/O error. False for a number that names no open
// port. Never waits. Any thread; holds the table.
bool serial_port_gone(object_number number);

// Reads up to length waiting bytes into buffer (not terminated). Returns how
// many were stored; 0 if nothing was waiting, on error, for a null buffer or
// a length of 0 or less, or a number that names no open port. Never waits.
// Any thread; holds the table.
int serial_read(object_number number, void* buffer, int length);

// Closes the port and gives its number up (an automatic number becomes
// invalid). Output not yet sent is discarded, so the close never waits for a
// stuck line to drain; the line gets back the settings it had before the open,
// and the hold on the port ends with it. -1 closes every open
// port: explicit numbers ascending, then automatic ones oldest first. Does
// nothing for a number that names no open port. Any thread; holds the table
// only to give the record up, and closes after dropping it. False when the
// port's line, still there, could not be put back (as port_close); true
// otherwise, and for -1.
[[nodiscard]] bool serial_close(object_number number);

// Closes every open port, as serial_close(-1). Called once at shutdown, while
// a test worker may still be using its port; its later calls return 0.
void serial_close_all();
