#include "check/port/port_listing.h"

#include "app/core/port_candidates.h"
#include "check/port/node_path.h"

PortListing list_ports(const std::string& dev_folder, const std::string& sysfs_root) {
    PortListing listing;
    std::vector<std::string> paths =
        port_candidates(dev_folder, {USB_PORT_PATTERN, ACM_PORT_PATTERN});
    // Every name is collected before the first open, and each open is closed
    // before the next, as the window's discovery does.
    sort_ports(paths);
    for (const std::string& path : paths) {
        ListedPort port;
        port.path = path;
        port.kind = base_name(path).substr(0, 6);
        PortLook look = look_at_port(port.path);
        port.open = std::move(look.open);
        port.holders = std::move(look.holders);
        port.identity = identify_port(path, sysfs_root);
        listing.ports.push_back(std::move(port));
    }
    listing.unbound = unbound_converters(sysfs_root);
    return listing;
}
