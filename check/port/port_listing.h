// Every USB serial port under a device folder, with what a user needs to know
// about each, and the converters that are plugged in without a port.
#pragma once

#include "check/port/open_diagnosis.h"
#include "check/port/port_identity.h"

#include <optional>
#include <string>
#include <vector>

struct ListedPort {
    std::string path;
    std::string kind; // "ttyUSB" or "ttyACM"
    OpenReport open;
    PortHolders holders;
    PortIdentity identity;
};

struct PortListing {
    std::vector<ListedPort> ports;
    std::vector<UnboundConverter> unbound;
};

// Every entry of dev_folder whose name starts with "ttyUSB" or "ttyACM", in
// natural order (ttyUSB2 before ttyUSB10), each opened once and closed at once,
// with the signals of check/interruption.h held back meanwhile.
PortListing list_ports(const std::string& dev_folder = "/dev",
                       const std::string& sysfs_root = SYSFS_ROOT);
