#include "app/port_discovery.h"

#include "serial/serial_port.h"
#include "tests/support/descriptor_count.h"
#include "tests/support/simulated_adapter.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// A symbolic link under /dev made by the test and removed with the object,
// also when the test fails.
class DeviceLink {
  public:
    DeviceLink(std::string path, const std::string& target) : path_(std::move(path)) {
        made_ = symlink(target.c_str(), path_.c_str()) == 0;
        EXPECT_TRUE(made_) << "cannot link " << path_;
    }
    ~DeviceLink() {
        if (made_) {
            unlink(path_.c_str());
        }
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool made_ = false;
};

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// The given paths in the order /dev delivers their names.
Paths in_dev_order(const Paths& wanted) {
    Paths ordered;
    DIR* dev = opendir("/dev");
    if (dev == nullptr) {
        ADD_FAILURE() << "cannot list /dev";
        return ordered;
    }
    while (const dirent* entry = readdir(dev)) {
        std::string path = std::string("/dev/") + entry->d_name;
        if (std::find(wanted.begin(), wanted.end(), path) != wanted.end()) {
            ordered.push_back(path);
        }
    }
    closedir(dev);
    return ordered;
}

Paths matching_dev_entries() {
    Paths paths;
    DIR* dev = opendir("/dev");
    if (dev != nullptr) {
        while (const dirent* entry = readdir(dev)) {
            if (std::string_view(entry->d_name).starts_with("ttyUSB")) {
                paths.push_back(std::string("/dev/") + entry->d_name);
            }
        }
        closedir(dev);
    }
    return paths;
}

Paths elements(const TextList& list) {
    return Paths(list.begin(), list.end());
}

// Only the elements that name one of the given paths.
Paths only(const Paths& all, const Paths& ours) {
    Paths kept;
    for (const std::string& path : all) {
        if (std::find(ours.begin(), ours.end(), path) != ours.end()) {
            kept.push_back(path);
        }
    }
    return kept;
}

class PortDiscoveryTest : public testing::Test {
  protected:
    void SetUp() override { serial_init(); }
};

TEST_F(PortDiscoveryTest, ListsTheMatchingEntriesThatOpenAsFullPathsInDirectoryOrder) {
    SimulatedAdapter first(unique_device_link());
    SimulatedAdapter second(unique_device_link(), {"--silent"});
    SimulatedAdapter third(unique_device_link());
    ASSERT_TRUE(first.ready() && second.ready() && third.ready());
    DeviceLink dangling(unique_device_link(), "/dev/lantoric-test-no-such-device");
    // Any kind of node that opens counts; the probe tests nothing else.
    DeviceLink not_a_tty(unique_device_link(), "/dev/null");
    Paths ours{first.link(), second.link(), third.link(), dangling.path(), not_a_tty.path()};
    int descriptors_before = open_descriptor_count();

    TextList port_list;
    discover_ports(port_list);

    EXPECT_EQ(open_descriptor_count(), descriptors_before) << "a port or a listing stayed open";
    EXPECT_EQ(only(elements(port_list), ours),
              in_dev_order({first.link(), second.link(), third.link(), not_a_tty.path()}));
    for (const std::string& path : elements(port_list)) {
        EXPECT_TRUE(path.starts_with("/dev/ttyUSB")) << path;
    }
    EXPECT_EQ(port_list.current(), elements(port_list).back()) << "the last added is current";
}

TEST_F(PortDiscoveryTest, EntryNamedExactlyTtyUSBIsProbed) {
    if (exists("/dev/ttyUSB")) {
        GTEST_SKIP() << "/dev/ttyUSB belongs to someone else";
    }
    SimulatedAdapter bare("/dev/ttyUSB");
    ASSERT_TRUE(bare.ready());
    TextList port_list;
    discover_ports(port_list);
    Paths found = elements(port_list);
    EXPECT_NE(std::find(found.begin(), found.end(), "/dev/ttyUSB"), found.end());
}

TEST_F(PortDiscoveryTest, NothingThatOpensLeavesTheListEmptyAndNoPortOpen) {
    DeviceLink dangling(unique_device_link(), "/dev/lantoric-test-no-such-device");
    Paths present = matching_dev_entries();
    if (present != Paths{dangling.path()}) {
        GTEST_SKIP() << "other ttyUSB entries are present in /dev";
    }
    int descriptors_before = open_descriptor_count();
    TextList port_list;
    discover_ports(port_list);
    EXPECT_TRUE(port_list.empty());
    EXPECT_EQ(probe_port, 0);
    EXPECT_EQ(open_descriptor_count(), descriptors_before);
}

} // namespace
