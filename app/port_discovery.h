// Port discovery: which USB serial converters the port chooser offers.
#pragma once

#include "app/text_list.h"

// Appends to port_list the full path ("/dev/" and the name's bytes as the
// directory holds them) of every entry of /dev matching "ttyUSB*" that opens
// (serial_probe: opened and closed, nothing on the port changed), in the order
// the directory delivers them. A name that would not come back unchanged from
// the port chooser is left out, so every listed path opens the entry that was
// probed. All names are collected and the listing finished before the first
// probe, and each probe is closed before the next opens, so at most one port
// is open at a time and none is left open. A /dev that cannot be listed or an
// entry that does not open adds nothing; nothing is reported. Main thread, at
// start-up; takes the listing table's lock.
void discover_ports(TextList& port_list);
