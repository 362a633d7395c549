#include "check/port_listing.h"

#include "gui/core/owners.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <memory>

namespace {

// Names compared with runs of digits as numbers: ttyUSB2 before ttyUSB10.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t end_a = i;
            std::size_t end_b = j;
            while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a]))) {
                ++end_a;
            }
            while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b]))) {
                ++end_b;
            }
            std::string number_a = a.substr(i, end_a - i);
            std::string number_b = b.substr(j, end_b - j);
            number_a.erase(0, std::min(number_a.find_first_not_of('0'), number_a.size()));
            number_b.erase(0, std::min(number_b.find_first_not_of('0'), number_b.size()));
            if (number_a.size() != number_b.size()) {
                return number_a.size() < number_b.size();
            }
            if (number_a != number_b) {
                return number_a < number_b;
            }
            i = end_a;
            j = end_b;
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

} // namespace

PortListing list_ports(const std::string& dev_folder, const std::string& sysfs_root) {
    PortListing listing;
    std::vector<std::string> names;
    if (OwnedDirectory folder(opendir(dev_folder.c_str())); folder) {
        while (dirent* entry = readdir(folder.get())) {
            const std::string name = entry->d_name;
            if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) {
                names.push_back(name);
            }
        }
    }
    // Every name is collected before the first open, and each open is closed
    // before the next, as the window's discovery does.
    std::sort(names.begin(), names.end(), natural_less);
    for (const std::string& name : names) {
        ListedPort port;
        port.path = dev_folder + "/" + name;
        port.kind = name.substr(0, 6);
        port.open = check_open(port.path);
        if (holders_matter(port.open.outcome)) {
            port.holders = port_holders(port.path, port.holders_all_visible);
        }
        port.usb = usb_identity(name, sysfs_root);
        listing.ports.push_back(std::move(port));
    }
    listing.unbound = unbound_converters(sysfs_root);
    return listing;
}
