#include "app/port_discovery.h"

#include "serial/serial_port.h"
#include "tests/support/descriptor_count.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/terminal_holder.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// Port discovery lists /dev whole: run by root, these tests see only the nodes
// they make there, whatever is plugged in.
const bool in_own_devices = run_in_own_devices();

// The given paths in the order /dev lists them.
Paths in_dev_order(const Paths& wanted) {
    Paths ordered;
    for (const std::string& path : usb_device_entries()) {
        if (std::find(wanted.begin(), wanted.end(), path) != wanted.end()) {
            ordered.push_back(path);
        }
    }
    return ordered;
}

Paths elements(const TextList& list) {
    return Paths(list.begin(), list.end());
}

// The elements this test process made: every /dev entry a test links is named
// "/dev/ttyUSBlt<pid>x...", so a path that lost or changed bytes on the way
// stays in the result.
Paths ours_in(const Paths& all) {
    std::string own_prefix = "/dev/ttyUSBlt" + std::to_string(getpid()) + "x";
    Paths kept;
    for (const std::string& path : all) {
        if (path.starts_with(own_prefix)) {
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
    // Opening a FIFO read-write and non-blocking neither waits nor fails.
    DeviceLink fifo(unique_device_link());
    int descriptors_before = open_descriptor_count();

    TextList port_list;
    discover_ports(port_list);

    EXPECT_EQ(open_descriptor_count(), descriptors_before) << "a port or a listing stayed open";
    EXPECT_EQ(ours_in(elements(port_list)), in_dev_order({first.link(), second.link(), third.link(),
                                                          not_a_tty.path(), fifo.path()}));
    for (const std::string& path : elements(port_list)) {
        EXPECT_TRUE(path.starts_with("/dev/ttyUSB")) << path;
    }
    EXPECT_EQ(port_list.current(), elements(port_list).back()) << "the last added is current";
}

TEST_F(PortDiscoveryTest, EntryNamedExactlyTtyUSBIsProbed) {
    struct stat status;
    if (lstat("/dev/ttyUSB", &status) == 0) {
        ASSERT_FALSE(in_own_devices) << "/dev/ttyUSB is in the test's own /dev";
        GTEST_SKIP() << "/dev/ttyUSB belongs to someone else (without root the tests share /dev)";
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
    Paths present = usb_device_entries();
    if (present != Paths{dangling.path()}) {
        ASSERT_FALSE(in_own_devices) << "other ttyUSB entries are in the test's own /dev";
        GTEST_SKIP()
            << "other ttyUSB entries are present in /dev (without root the tests share it)";
    }
    int descriptors_before = open_descriptor_count();
    TextList port_list;
    discover_ports(port_list);
    EXPECT_TRUE(port_list.empty());
    EXPECT_EQ(open_descriptor_count(), descriptors_before);
}

// Another program has the port open at 115200 in line mode with a line waiting:
// listing the ports must not change a setting or discard a byte of it.
TEST_F(PortDiscoveryTest, LeavesAPortThatAnotherProgramUsesExactlyAsItWas) {
    PtyPair terminal(false);
    ASSERT_TRUE(terminal.ok());
    DeviceLink link(unique_device_link(), terminal.slave_path());
    TerminalHolder other_program(link.path(), {});
    ASSERT_TRUE(other_program.ready());
    const std::string line = "a line the other program has not read\n";
    ASSERT_TRUE(terminal.write_master(line));
    ASSERT_TRUE(other_program.wait_waiting(static_cast<int>(line.size())))
        << "the line did not reach the other program";
    termios before = other_program.seen().settings;

    TextList port_list;
    discover_ports(port_list);

    TerminalHolder::Seen after = other_program.seen();
    EXPECT_EQ(ours_in(elements(port_list)), Paths{link.path()}) << "a port in use still opens";
    EXPECT_EQ(after.waiting, static_cast<int>(line.size())) << "waiting input was discarded";
    EXPECT_EQ(cfgetispeed(&after.settings), B115200);
    EXPECT_EQ(after.settings.c_iflag, before.c_iflag);
    EXPECT_EQ(after.settings.c_oflag, before.c_oflag);
    EXPECT_EQ(after.settings.c_cflag, before.c_cflag);
    EXPECT_EQ(after.settings.c_lflag, before.c_lflag);
    EXPECT_EQ(std::memcmp(after.settings.c_cc, before.c_cc, sizeof before.c_cc), 0);
}

struct OddName {
    const char* what;
    std::string bytes; // appended to a unique /dev/ttyUSB... name
};

// Names that lost or changed bytes on the way to the chooser and back: each
// listed path must be the entry's own name byte for byte, so the test opens
// the entry that was probed and never another.
TEST_F(PortDiscoveryTest, ListedNamesKeepTheirBytesAndOpenTheirOwnEntry) {
    const OddName odd_names[] = {
        {"the euro sign of ISO-8859-15", "\xA4"},
        {"the other ISO-8859-15 letters", "\xA6\xA8\xB4\xB8\xBC\xBD\xBE"},
        {"not UTF-8", "\xFF\xFEq"},
        {"overlong slashes and dots", "\xC0\xAF..\xC0\xAFnull"},
        {"UTF-8 beyond ISO-8859-15", "\xE2\x86\x92"},
    };
    PtyPair adapter;
    ASSERT_TRUE(adapter.ok());
    std::vector<std::unique_ptr<DeviceLink>> links;
    Paths expected;
    for (const OddName& name : odd_names) {
        links.push_back(
            std::make_unique<DeviceLink>(unique_device_link() + name.bytes, adapter.slave_path()));
        expected.push_back(links.back()->path());
    }
    // A dangling name that, without its 0xFF, is another entry that opens.
    std::string base = unique_device_link();
    DeviceLink null_link(base + "null", "/dev/null");
    DeviceLink dangling(base + "\xFFnull", "/dev/lantoric-test-no-such-device");
    expected.push_back(null_link.path());

    TextList port_list;
    discover_ports(port_list);

    EXPECT_EQ(ours_in(elements(port_list)), in_dev_order(expected));
}

} // namespace
