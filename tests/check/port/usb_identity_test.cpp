// The sysfs reader on a fabricated tree shaped like the kernel's: devices
// under devices/, reached through relative links from class/tty and
// bus/usb/devices, drivers as links into bus/*/drivers.
#include "check/port/port_identity.h"
#include "check/port/usb_identity.h"
#include "tests/support/temp_folder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class FabricatedSysfs : public testing::Test {
  protected:
    // A USB device with its attributes; returns its folder.
    fs::path usb_device(const std::string& name, const std::string& vendor,
                        const std::string& product_id, const std::string& product) {
        fs::path device = root() / "devices/pci0000:00/0000:00:14.0/usb1" / name;
        write(device / "idVendor", vendor);
        write(device / "idProduct", product_id);
        write(device / "manufacturer", "Maker");
        write(device / "product", product);
        write(device / "serial", "A123");
        link(root() / "bus/usb/devices" / name, device);
        return device;
    }
    // An interface of the device, bound to driver unless it is empty.
    fs::path interface(const fs::path& device, const std::string& driver) {
        fs::path at = device / (device.filename().string() + ":1.0");
        fs::create_directories(at);
        if (!driver.empty()) {
            fs::create_directories(root() / "bus/usb/drivers" / driver);
            link(at / "driver", root() / "bus/usb/drivers" / driver);
        }
        return at;
    }
    // A usb-serial port ttyUSB<n> below the interface, as usb-serial drivers make.
    fs::path usb_serial_port(const fs::path& at, const std::string& tty,
                             const std::string& driver) {
        fs::path port = at / tty;
        fs::create_directories(port / "tty" / tty);
        fs::create_directories(root() / "bus/usb-serial/drivers" / driver);
        link(port / "driver", root() / "bus/usb-serial/drivers" / driver);
        link(root() / "class/tty" / tty, port / "tty" / tty);
        link(port / "tty" / tty / "device", port);
        return port;
    }

    fs::path root() const { return folder.path(); }

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    // Relative, as sysfs links are, so the tree works wherever it lies.
    static void link(const fs::path& at, const fs::path& target) {
        fs::create_directories(at.parent_path());
        fs::create_directory_symlink(fs::relative(target, at.parent_path()), at);
    }

    TempFolder folder;
};

TEST_F(FabricatedSysfs, AUsbSerialPortShowsItsChipDriverAndLatency) {
    fs::path device = usb_device("1-2", "0403", "6001", "FT232R USB UART");
    fs::path port = usb_serial_port(interface(device, "ftdi_sio"), "ttyUSB0", "ftdi_sio");
    write(port / "latency_timer", "16");
    // cdc_acm makes its tty right below the interface, with no port folder.
    fs::path modem = interface(usb_device("1-3", "2341", "0043", "Uno"), "cdc_acm");
    fs::create_directories(modem / "tty/ttyACM0");
    link(root() / "class/tty/ttyACM0", modem / "tty/ttyACM0");
    link(modem / "tty/ttyACM0/device", modem);

    auto identity = usb_identity("ttyUSB0", root());
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->device, "1-2");
    EXPECT_EQ(identity->vendor_id, "0403");
    EXPECT_EQ(identity->product_id, "6001");
    EXPECT_EQ(identity->chip, ConverterChip::ftdi);
    EXPECT_EQ(identity->product, "FT232R USB UART");
    EXPECT_EQ(identity->serial, "A123");
    EXPECT_EQ(identity->driver, "ftdi_sio");
    EXPECT_EQ(identity->latency_timer_ms, 16);
    EXPECT_NE(latency_advice(16, "ttyUSB0").find("up to 16 ms"), std::string::npos);

    auto acm = usb_identity("ttyACM0", root());
    ASSERT_TRUE(acm);
    EXPECT_EQ(acm->device, "1-3");
    EXPECT_EQ(acm->driver, "cdc_acm");
    EXPECT_EQ(acm->chip, ConverterChip::unknown);
    EXPECT_FALSE(acm->latency_timer_ms);
    EXPECT_FALSE(usb_identity("ttyS0", root()));
    EXPECT_TRUE(unbound_converters(root()).empty()) << "both have their port";
}

// A port is known by the node its path leads to, and only a character device
// is one: a link finds the tty it leads to, a file of a tty's name is none.
TEST_F(FabricatedSysfs, APortIsIdentifiedByTheDeviceItsPathLeadsTo) {
    fs::path device = usb_device("1-7", "067b", "2303", "PL2303");
    usb_serial_port(interface(device, "pl2303"), "null", "pl2303");
    fs::create_symlink("/dev/null", root() / "ttyUSB9");
    const PortIdentity port = identify_port((root() / "ttyUSB9").string(), root());
    EXPECT_EQ(port.name, "null");
    EXPECT_EQ(port.chip(), ConverterChip::pl2303);
    write(root() / "file/null", "");
    EXPECT_FALSE(identify_port((root() / "file/null").string(), root()).usb);
}

TEST_F(FabricatedSysfs, ConvertersWithoutAPortAreFoundWithTheirLikelyCause) {
    interface(usb_device("1-1", "1a86", "7523", "USB Serial"), "");
    interface(usb_device("1-4", "1a86", "7523", "USB Serial"), "usbfs");
    interface(usb_device("1-5", "10c4", "ea60", "CP2102"), "cp210x");
    interface(usb_device("1-6", "046d", "c52b", "Receiver"), "");
    auto unbound = unbound_converters(root());
    ASSERT_EQ(unbound.size(), 3u);
    EXPECT_EQ(unbound[0].interface, "1-1:1.0");
    EXPECT_EQ(unbound[0].chip, "CH340/CH341");
    EXPECT_EQ(unbound[0].driver, "");
    EXPECT_NE(unbound[0].fix.find("modprobe ch341"), std::string::npos);
    EXPECT_EQ(unbound[1].driver, "usbfs");
    EXPECT_NE(unbound[1].cause.find("claimed by the driver usbfs"), std::string::npos);
    EXPECT_EQ(unbound[2].driver, "cp210x");
    EXPECT_NE(unbound[2].cause.find("no port was made"), std::string::npos);
}

} // namespace
