// The USB side of a serial port, read from sysfs: which converter chip and
// driver stand behind a tty, and which converters are plugged in without a
// port. A small reader of sysfs files rather than libudev, with the sysfs root
// as a parameter, so tests run it on a fabricated tree in a temporary folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

inline constexpr const char* SYSFS_ROOT = "/sys";

// The USB serial converter chip families this program knows, by vendor id.
enum class ConverterChip { unknown, ftdi, ch341, cp210x, pl2303 };

// The family a USB vendor id ("0403") stands for; unknown for any other.
ConverterChip converter_chip(const std::string& vendor_id);

// "FTDI", "CH340/CH341", "CP210x", "PL2303"; empty for unknown.
const char* chip_name(ConverterChip chip);

// The lowest rate the chip can run; none where no bound is known. Below it
// its driver programs another rate and still reads back the one asked.
std::optional<int> chip_lowest_rate(ConverterChip chip);

struct UsbIdentity {
    std::string device;    // the USB device's sysfs name, such as "1-1.2"
    std::string vendor_id; // four hex digits, as sysfs has them
    std::string product_id;
    // The chip family by vendor_id, as the chip table has it.
    ConverterChip chip = ConverterChip::unknown;
    std::string manufacturer; // empty when the device gives none
    std::string product;
    std::string serial;
    std::string driver; // the tty's kernel driver: "ftdi_sio", "ch341", "cdc_acm", ...
    // FTDI chips: how long the chip holds received bytes before sending them on.
    std::optional<int> latency_timer_ms;
};

// The identity of the tty with the given name (such as "ttyUSB0"); none when
// sysfs has no USB device behind it (a pseudo-terminal, say).
std::optional<UsbIdentity> usb_identity(const std::string& tty_name,
                                        const std::string& sysfs_root = SYSFS_ROOT);

// What a latency timer means for the echo's timing, in one line.
std::string latency_advice(int latency_timer_ms, const std::string& tty_name);

// A USB serial converter that is plugged in but has an interface without a
// serial port.
struct UnboundConverter {
    std::string device;    // the USB device's sysfs name
    std::string interface; // the interface's sysfs name, such as "1-1.2:1.0"
    std::string vendor_id;
    std::string product_id;
    std::string manufacturer;
    std::string product;
    std::string chip;            // "FTDI", "CH340/CH341", "CP210x", "PL2303"
    std::string expected_driver; // the driver that makes its ports
    std::string driver;          // the driver bound now; empty when none
    std::string cause;           // one line: the likely cause
    std::string fix;             // one line: what to do
};

// Every interface of a known converter chip (FTDI, CH340/CH341, CP210x,
// PL2303) that is not bound to its serial driver, or is bound but made no port.
std::vector<UnboundConverter> unbound_converters(const std::string& sysfs_root = SYSFS_ROOT);
