// What a port's node is, decided in one place and read by every decision that
// needs it: the tty's name, the USB converter behind it (chip family, driver,
// latency timer), the order ports are shown in, and whether a pseudo-terminal,
// a device or nothing stands behind an open port. sysfs is read from a root
// given as a parameter, so tests run on a fabricated tree.
#pragma once

#include "check/port/usb_identity.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What stands behind a port's node.
enum class PortKind { device, pseudo_terminal, gone };

// The one rule, from what the system shows of the node: a port that hung up
// is gone; one sysfs lists is a device; a pseudo-terminal (by its major) is
// none that sysfs lists; any other node that sysfs does not list lost its
// device (an adapter unplugged). Without sysfs nothing tells a device from
// one that left: a device.
PortKind port_kind(bool hung_up, bool in_sysfs, dev_t rdev, bool sysfs_mounted);

// What stands behind an open port now: gone as well when its descriptor is
// no longer a character device. Asks the driver whether it hung up (FIONREAD
// failing with EIO). Not kept in PortIdentity: it changes when an adapter is
// unplugged, so it is asked of the open port each time it matters. Any
// thread; no lock.
PortKind port_kind_now(int descriptor, const std::string& sysfs_root = SYSFS_ROOT);

struct PortIdentity {
    // The tty's name ("ttyUSB0"): the base name of the node the path leads
    // to, every link followed; the path's own when it leads nowhere. sysfs
    // knows the tty by it.
    std::string name;
    // None when sysfs shows no USB device behind the tty (a pseudo-terminal,
    // a built-in serial port, a node whose device left), or the path leads
    // to no character device.
    std::optional<UsbIdentity> usb;

    ConverterChip chip() const { return usb ? usb->chip : ConverterChip::unknown; }
    std::optional<int> latency_timer_ms() const {
        return usb ? usb->latency_timer_ms : std::nullopt;
    }
};

// The identity of the node behind path, built once per node and passed on;
// from the path's links and sysfs, opening nothing, so it never blocks and
// never touches the line. Any thread; no lock.
PortIdentity identify_port(const std::string& path, const std::string& sysfs_root = SYSFS_ROOT);

// Whether port a comes before port b: by path, runs of digits compared as
// numbers (ttyUSB2 before ttyUSB10).
bool port_order(const std::string& a, const std::string& b);

// The paths in port order.
void sort_ports(std::vector<std::string>& paths);
