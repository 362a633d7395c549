// Port discovery: which USB serial converters the port chooser offers.
#pragma once

#include "app/text_list.h"
#include "gui/core/registry.h"

// The number the latest probe open returned (0 when it failed). Read by nothing
// outside port discovery.
extern object_number probe_port;

// Appends to port_list the full path ("/dev/" and the name) of every entry of
// /dev matching "ttyUSB*" that opens as a serial port at 9600 baud, no parity,
// 8 data bits, one stop bit, no handshake, in the order the directory delivers
// them. All names are collected and the listing finished before the first
// probe, and each probe is closed before the next opens, so at most one port is
// open at a time and none is left open. A /dev that cannot be listed or an
// entry that does not open adds nothing; nothing is reported. Main thread, at
// start-up; takes the listing and serial-port tables' locks in turn.
void discover_ports(TextList& port_list);
