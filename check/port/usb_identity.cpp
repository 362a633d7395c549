#include "check/port/usb_identity.h"

#include "base/small_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Chip {
    ConverterChip family;
    const char* vendor_id;
    const char* name;
    const char* driver;
    int lowest_rate; // 0 where none is known
};

// The FT232 family's lowest rate is its 3 MHz clock over the largest divisor,
// 16384.
constexpr int FTDI_LOWEST_RATE = 183;

// Converter chips by USB vendor id, with the driver that makes their ports.
constexpr Chip chips[] = {
    {ConverterChip::ftdi, "0403", "FTDI", "ftdi_sio", FTDI_LOWEST_RATE},
    {ConverterChip::ch341, "1a86", "CH340/CH341", "ch341", 0},
    {ConverterChip::cp210x, "10c4", "CP210x", "cp210x", 0},
    {ConverterChip::pl2303, "067b", "PL2303", "pl2303", 0},
};

const Chip* chip_of_vendor(const std::string& vendor_id) {
    for (const Chip& known : chips) {
        if (vendor_id == known.vendor_id) {
            return &known;
        }
    }
    return nullptr;
}

const Chip* chip_of_family(ConverterChip family) {
    for (const Chip& known : chips) {
        if (family == known.family) {
            return &known;
        }
    }
    return nullptr;
}

// The first line of a sysfs attribute; empty when it cannot be read.
std::string attribute(const fs::path& file) {
    const std::string text = read_small_file(file.string(), 256);
    return text.substr(0, text.find('\n'));
}

std::string driver_of(const fs::path& node) {
    std::error_code error;
    fs::path driver = fs::read_symlink(node / "driver", error);
    return error ? std::string() : driver.filename().string();
}

void read_names(const fs::path& usb_device, std::string& manufacturer, std::string& product) {
    manufacturer = attribute(usb_device / "manufacturer");
    product = attribute(usb_device / "product");
}

// Whether an interface has made a tty: ttyUSB<n> below it (usb-serial) or a
// "tty" folder (cdc_acm).
bool has_port(const fs::path& interface) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(interface, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name == "tty") {
            return true;
        }
    }
    return false;
}

} // namespace

ConverterChip converter_chip(const std::string& vendor_id) {
    const Chip* chip = chip_of_vendor(vendor_id);
    return chip != nullptr ? chip->family : ConverterChip::unknown;
}

const char* chip_name(ConverterChip chip) {
    const Chip* known = chip_of_family(chip);
    return known != nullptr ? known->name : "";
}

std::optional<int> chip_lowest_rate(ConverterChip chip) {
    const Chip* known = chip_of_family(chip);
    if (known == nullptr || known->lowest_rate == 0) {
        return std::nullopt;
    }
    return known->lowest_rate;
}

std::optional<UsbIdentity> usb_identity(const std::string& tty_name,
                                        const std::string& sysfs_root) {
    const fs::path root(sysfs_root);
    std::error_code error;
    const fs::path device = fs::canonical(root / "class" / "tty" / tty_name / "device", error);
    if (error) {
        return std::nullopt;
    }
    const fs::path top = fs::canonical(root, error);
    // The USB device is the nearest folder above the tty's device that has
    // vendor and product ids.
    for (fs::path at = device; !error && at != top && at.has_relative_path();
         at = at.parent_path()) {
        if (!fs::exists(at / "idVendor")) {
            continue;
        }
        UsbIdentity identity;
        identity.device = at.filename().string();
        identity.vendor_id = attribute(at / "idVendor");
        identity.product_id = attribute(at / "idProduct");
        identity.chip = converter_chip(identity.vendor_id);
        read_names(at, identity.manufacturer, identity.product);
        identity.serial = attribute(at / "serial");
        identity.driver = driver_of(device);
        const std::string latency = attribute(device / "latency_timer");
        if (!latency.empty()) {
            try {
                identity.latency_timer_ms = std::stoi(latency);
            } catch (const std::exception&) {
            }
        }
        return identity;
    }
    return std::nullopt;
}

std::string latency_advice(int latency_timer_ms, const std::string& tty_name) {
    if (latency_timer_ms <= 1) {
        return "the chip passes each byte on within 1 ms: best for echo timing";
    }
    return "the chip may hold an echo up to " + std::to_string(latency_timer_ms) +
           " ms before passing it on; for K-line timing set 1 ms: echo 1 | sudo tee "
           "/sys/bus/usb-serial/devices/" +
           tty_name + "/latency_timer";
}

std::vector<UnboundConverter> unbound_converters(const std::string& sysfs_root) {
    std::vector<UnboundConverter> found;
    std::error_code error;
    const fs::path devices = fs::path(sysfs_root) / "bus" / "usb" / "devices";
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(devices, error)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        const std::string vendor = attribute(entry / "idVendor");
        const Chip* chip = chip_of_vendor(vendor);
        if (chip == nullptr) {
            continue;
        }
        const std::string name = entry.filename().string();
        for (const auto& child : fs::directory_iterator(entry, error)) {
            const std::string interface = child.path().filename().string();
            // Interfaces are named "<device>:<configuration>.<interface>".
            if (interface.rfind(name + ":", 0) != 0 || has_port(child.path())) {
                continue;
            }
            UnboundConverter converter;
            converter.device = name;
            converter.interface = interface;
            converter.vendor_id = vendor;
            converter.product_id = attribute(entry / "idProduct");
            read_names(entry, converter.manufacturer, converter.product);
            converter.chip = chip->name;
            converter.expected_driver = chip->driver;
            converter.driver = driver_of(child.path());
            if (converter.driver.empty()) {
                converter.cause = std::string("no driver took it: the ") + chip->driver +
                                  " module is not loaded, or does not know " + vendor + ":" +
                                  converter.product_id;
                converter.fix = std::string("sudo modprobe ") + chip->driver +
                                ", then unplug the adapter and plug it in again";
            } else if (converter.driver != chip->driver) {
                converter.cause = "claimed by the driver " + converter.driver + " instead of " +
                                  chip->driver +
                                  (converter.driver == "usbfs"
                                       ? " (a program has taken it over, brltty does this "
                                         "to CH340 adapters)"
                                       : "");
                converter.fix = "stop or remove what claims it (for brltty: sudo apt remove "
                                "brltty), then plug the adapter in again";
            } else {
                converter.cause = "bound to " + converter.driver + ", but no port was made";
                converter.fix = "unplug the adapter and plug it in again; see sudo dmesg";
            }
            found.push_back(converter);
        }
    }
    return found;
}
