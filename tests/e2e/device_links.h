// The entries of /dev that port discovery looks at ("ttyUSB*"), as far as the
// end-to-end tests make or must know of them.
#pragma once

#include <string>
#include <vector>

// A /dev/ttyUSB<name> link to a path that does not exist: an entry that port
// discovery finds but cannot open. Removed with this object.
class DanglingDeviceLink {
  public:
    // Makes the link at a unique path; on failure the test fails and path()
    // is empty.
    DanglingDeviceLink();
    ~DanglingDeviceLink();
    DanglingDeviceLink(const DanglingDeviceLink&) = delete;
    DanglingDeviceLink& operator=(const DanglingDeviceLink&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Full paths of the /dev entries that match "ttyUSB*", in no particular order.
std::vector<std::string> usb_device_entries();

// Removes links that end-to-end and serial test programs made under /dev and
// left behind when they died: "ttyUSBlt<pid>x<n>" links whose process is gone.
void remove_stale_test_links();

// Whether an entry is a link made by a test program ("/dev/ttyUSBlt...").
bool is_test_link(const std::string& path);
