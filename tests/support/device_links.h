// The entries of /dev that port discovery looks at ("ttyUSB*"), as far as the
// tests make or must know of them.
#pragma once

#include <string>
#include <vector>

// A link path that no real device has and no other test uses:
// "<folder>/ttyUSBlt<pid>x<counter>". Port discovery finds it with "ttyUSB*".
std::string unique_device_link(const std::string& folder = "/dev");

// An entry made by the test, a symbolic link or a FIFO, removed with the
// object, also when the test fails (then path() is empty).
class DeviceLink {
  public:
    // A link at path to target (which need not exist: port discovery finds a
    // dangling link but cannot open it).
    DeviceLink(const std::string& path, const std::string& target);
    // A FIFO at path.
    explicit DeviceLink(const std::string& path);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Full paths of the /dev entries that match "ttyUSB*", in the order /dev
// lists them.
std::vector<std::string> usb_device_entries();

// Removes links that test programs made under /dev and left behind when they
// died: "ttyUSBlt<pid>x<n>" links whose process is gone.
void remove_stale_test_links();

// Whether an entry is a link made by a test program ("/dev/ttyUSBlt...").
bool is_test_link(const std::string& path);

// The command run as root in a mount namespace whose /dev holds only the nodes
// this test process made there and the few every program needs (null, zero,
// full, random, urandom, tty, ptmx, pts, shm): nothing else plugged in or linked is
// in its sight.
std::vector<std::string> with_own_devices(const std::vector<std::string>& command);

// For a test program whose tests list /dev whole. Run by root, before any
// test starts: the program runs again, with the same pid and arguments, under
// with_own_devices, and this returns true there. Without root it returns false
// and the program goes on in the shared /dev.
bool run_in_own_devices();
