#include "app/port_discovery.h"

#include "serial/serial_port.h"
#include "sys/directory.h"

#include <string>

object_number probe_port = 0;

namespace {

constexpr const char* device_folder = "/dev";
constexpr const char* device_pattern = "ttyUSB*";

} // namespace

void discover_ports(TextList& port_list) {
    // Every name is collected and the listing finished before any device is
    // touched, so opening a node never meets an open listing of /dev.
    TextList candidate_paths;
    object_number listing = dir_examine(OBJECT_ANY, device_folder, device_pattern);
    if (listing != 0) {
        while (dir_next_entry(listing) != 0) {
            candidate_paths.add(std::string(device_folder) + "/" + dir_entry_name(listing));
        }
        dir_finish(listing);
    }

    candidate_paths.reset();
    while (candidate_paths.next()) {
        const std::string& path = candidate_paths.current();
        // Only whether the port opens counts; it closes at once so that only
        // one port is open at a time.
        probe_port = serial_open(OBJECT_ANY, path.c_str(), 9600, 0, 8, 1.0f, 0, 1, 1);
        if (probe_port != 0) {
            port_list.add(path);
            serial_close(probe_port);
        }
    }
}
