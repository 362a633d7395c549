// A test's port held for itself on real pseudo-terminals, against other
// programs played by child processes.
#include "serial/serial_port.h"

#include "tests/support/pty_pair.h"
#include "tests/support/terminal_holder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

object_number open_port(const std::string& path) {
    return serial_open(OBJECT_ANY, path.c_str(), 9600, 0, 8, 1.0f, 0, 128, 128);
}

struct OtherProgram {
    const char* what;
    TerminalHolder::Use use;
    bool port_opens;
};

// Refused only when the other program asked for the port alone. Refused or
// tested, the other program's line settings and waiting input stay as they
// were: a test writes into its line, but never takes its input or its speed.
TEST(PortHold, RefusesAPortThatAnotherProgramHoldsAndOnlyThen) {
    serial_init();
    const OtherProgram others[] = {
        {"keeps the port open", {}, true},
        {"holds its flock", {.take_flock = true}, false},
        {"made it exclusive", {.take_exclusive = true}, false},
    };
    for (const OtherProgram& other : others) {
        SCOPED_TRACE(other.what);
        PtyPair terminal(false);
        ASSERT_TRUE(terminal.ok());
        TerminalHolder other_program(terminal.slave_path(), other.use);
        ASSERT_TRUE(other_program.ready());
        ASSERT_TRUE(terminal.write_master("waiting line\n"));
        ASSERT_TRUE(other_program.wait_waiting(13));
        termios before = other_program.seen().settings;

        object_number port = open_port(terminal.slave_path());
        EXPECT_EQ(port != 0, other.port_opens);
        if (port != 0) {
            EXPECT_EQ(terminal.slave_settings().c_cflag & CBAUD, static_cast<tcflag_t>(B9600))
                << "the test did not set its own line";
        }
        EXPECT_TRUE(serial_close(port));

        TerminalHolder::Seen after = other_program.seen();
        EXPECT_EQ(after.waiting, 13) << "the other program's input was taken";
        EXPECT_EQ(after.settings.c_cflag, before.c_cflag);
        EXPECT_EQ(after.settings.c_lflag, before.c_lflag);
        EXPECT_EQ(cfgetospeed(&after.settings), cfgetospeed(&before));
    }
}

// What another program meets while the test's port is open, and after it closed.
struct Meets {
    bool flock_refused;
    bool exclusive;
};

Meets what_another_program_meets(const std::string& path) {
    int other = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(other, 0) << path << ": " << std::strerror(errno);
    Meets meets{flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK, false};
    int exclusive = 0;
    EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    meets.exclusive = exclusive != 0;
    close(other);
    return meets;
}

TEST(PortHold, TheHoldLastsFromTheOpenToTheCloseAndNoLonger) {
    serial_init();
    PtyPair terminal; // keeps its own end open, as a simulator does
    ASSERT_TRUE(terminal.ok());
    object_number port = open_port(terminal.slave_path());
    ASSERT_NE(port, 0);
    Meets held = what_another_program_meets(terminal.slave_path());
    EXPECT_TRUE(held.flock_refused);
    EXPECT_TRUE(held.exclusive);

    EXPECT_TRUE(serial_close(port));
    Meets released = what_another_program_meets(terminal.slave_path());
    EXPECT_FALSE(released.flock_refused);
    EXPECT_FALSE(released.exclusive) << "the terminal stayed exclusive after the close";
    EXPECT_NE(port = open_port(terminal.slave_path()), 0) << "the next test cannot open it";
    EXPECT_TRUE(serial_close(port));
}

} // namespace
