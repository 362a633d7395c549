// A port that another program is using, met by the real program: start-up
// lists it without touching it, and while that program holds the port's flock
// a test refuses it and still leaves it as it was.
#include "tests/e2e/lantoric_session.h"
#include "tests/support/device_links.h"
#include "tests/support/pty_pair.h"
#include "tests/support/terminal_holder.h"

namespace {

class PortInUse : public LantoricSession {};

TEST_F(PortInUse, StartUpLeavesItAloneAndATestRefusesItWhileItsLockIsHeld) {
    PtyPair terminal(false);
    ASSERT_TRUE(terminal.ok());
    const DeviceLink device(unique_device_link(), terminal.slave_path());
    ASSERT_FALSE(device.path().empty());
    const std::string& link = device.path();
    TerminalHolder other_program(link, {.take_flock = true});
    ASSERT_TRUE(other_program.ready());
    const std::string line = "a line the other program will read\n";
    ASSERT_TRUE(terminal.write_master(line));
    ASSERT_TRUE(other_program.wait_waiting(static_cast<int>(line.size())));
    const termios before = other_program.seen().settings;
    terminal.read_master_now(); // the other program's echo of the line

    ASSERT_TRUE(start_program());
    ASSERT_TRUE(select_port(link)) << "a port in use still opens, so it is listed";
    ASSERT_TRUE(click_test());
    ASSERT_TRUE(wait_for_verdict("not able to open selected port"));

    const TerminalHolder::Seen after = other_program.seen();
    EXPECT_EQ(after.waiting, static_cast<int>(line.size())) << "its waiting input was discarded";
    EXPECT_EQ(cfgetispeed(&after.settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(after.settings.c_iflag, before.c_iflag);
    EXPECT_EQ(after.settings.c_cflag, before.c_cflag);
    EXPECT_EQ(after.settings.c_lflag, before.c_lflag);
    EXPECT_EQ(terminal.read_master_now(), "") << "the test wrote into the other program's line";
}

} // namespace
