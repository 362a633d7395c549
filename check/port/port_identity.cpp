#include "check/port/port_identity.h"

#include "check/port/node_path.h"
#include "serial/port_holders.h"
#include "serial/port_opening.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>

PortKind port_kind(bool hung_up, bool in_sysfs, dev_t rdev, bool sysfs_mounted) {
    if (hung_up) {
        return PortKind::gone;
    }
    if (in_sysfs || !sysfs_mounted) {
        return PortKind::device;
    }
    return is_pseudo_terminal_slave(rdev) ? PortKind::pseudo_terminal : PortKind::gone;
}

PortKind port_kind_now(int descriptor, const std::string& sysfs_root) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return PortKind::gone;
    }
    int waiting = 0;
    const bool hung_up = ioctl(descriptor, FIONREAD, &waiting) != 0 && errno == EIO;
    struct stat sysfs {};
    return port_kind(hung_up, has_sysfs_device(status.st_rdev, sysfs_root), status.st_rdev,
                     stat((sysfs_root + "/dev/char").c_str(), &sysfs) == 0);
}

PortIdentity identify_port(const std::string& path, const std::string& sysfs_root) {
    PortIdentity identity;
    const std::optional<std::string> node = node_behind(path);
    identity.name = base_name(node.value_or(path));
    // sysfs knows ttys by name: a file or FIFO of a tty's name is none.
    struct stat status {};
    if (node && stat(node->c_str(), &status) == 0 && S_ISCHR(status.st_mode)) {
        identity.usb = usb_identity(identity.name, sysfs_root);
    }
    return identity;
}

bool port_order(const std::string& a, const std::string& b) {
    return strverscmp(a.c_str(), b.c_str()) < 0;
}

void sort_ports(std::vector<std::string>& paths) {
    std::sort(paths.begin(), paths.end(), port_order);
}
