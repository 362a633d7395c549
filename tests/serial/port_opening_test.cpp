// Which character devices count as serial lines when sysfs cannot say (some
// containers have none): the terminal drivers /proc/devices lists decide.
#include "serial/port_opening.h"

#include "tests/support/pty_pair.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

TEST(PortOpening, WithoutSysfsTheTerminalDriversOfProcDevicesDecide) {
    TempFolder no_sysfs;
    PtyPair pty;
    struct stat slave {};
    ASSERT_EQ(stat(pty.slave_path().c_str(), &slave), 0);
    EXPECT_TRUE(is_serial_line(makedev(4, 64), no_sysfs.path())) << "ttyS";
    EXPECT_TRUE(is_serial_line(slave.st_rdev, no_sysfs.path())) << "a pseudo-terminal slave";
    EXPECT_FALSE(is_serial_line(makedev(1, 3), no_sysfs.path())) << "/dev/null";
    EXPECT_FALSE(is_serial_line(makedev(10, 130), no_sysfs.path())) << "a watchdog";
    EXPECT_FALSE(has_sysfs_device(makedev(4, 64), no_sysfs.path()));
}

} // namespace
