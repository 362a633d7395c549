#include "check/port_listing.h"

#include "app/core/port_candidates.h"
#include "check/interruption.h"

#include <algorithm>
#include <cstring>

PortListing list_ports(const std::string& dev_folder, const std::string& sysfs_root) {
    PortListing listing;
    std::vector<std::string> paths =
        port_candidates(dev_folder, {USB_PORT_PATTERN, ACM_PORT_PATTERN});
    // Every name is collected before the first open, and each open is closed
    // before the next, as the window's discovery does.
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return strverscmp(a.c_str(), b.c_str()) < 0;
    });
    for (const std::string& path : paths) {
        const std::string name = path.substr(dev_folder.size() + 1);
        ListedPort port;
        port.path = path;
        port.kind = name.substr(0, 6);
        {
            // The look takes the port's hold for a moment, which a signal
            // must not end the program with.
            SignalsDeferred deferred;
            port.open = check_open(port.path);
        }
        if (holders_matter(port.open.failure)) {
            port.holders = port_holders(port.path);
            port.holders.input_waiting = port.open.input_waiting;
        }
        port.usb = usb_identity(name, sysfs_root);
        listing.ports.push_back(std::move(port));
    }
    listing.unbound = unbound_converters(sysfs_root);
    return listing;
}
