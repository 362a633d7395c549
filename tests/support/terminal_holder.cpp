#include "tests/support/terminal_holder.h"

#include "tests/support/wait_until.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child's whole life. Only system calls: the parent may run threads.
[[noreturn]] void hold(const char* path, TerminalHolder::Use use, int channel) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Only its own end of the channel: a pseudo-terminal master inherited from
    // the test would make it that terminal's device end, not another user.
    if (channel > 3) {
        close_range(3, static_cast<unsigned>(channel) - 1, 0);
    }
    close_range(static_cast<unsigned>(channel) + 1, ~0U, 0);
    int descriptor = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (descriptor < 0 || tcgetattr(descriptor, &settings) != 0) {
        _exit(1);
    }
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_lflag |= ICANON | ECHO;
    tcsetattr(descriptor, TCSANOW, &settings);
    if ((use.take_flock && flock(descriptor, LOCK_EX | LOCK_NB) != 0) ||
        (use.take_exclusive && ioctl(descriptor, TIOCEXCL) != 0)) {
        _exit(1);
    }
    char command = 0;
    // Each command byte asks for one report; the parent's end closing ends it.
    while (read(channel, &command, 1) == 1) {
        TerminalHolder::Seen seen;
        tcgetattr(descriptor, &seen.settings);
        if (ioctl(descriptor, FIONREAD, &seen.waiting) != 0) {
            seen.waiting = -1;
        }
        send(channel, &seen, sizeof seen, MSG_NOSIGNAL);
    }
    _exit(0);
}

} // namespace

TerminalHolder::TerminalHolder(const std::string& path, Use use) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        ADD_FAILURE() << "socketpair: " << std::strerror(errno);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(ends[0]);
        hold(path.c_str(), use, ends[1]);
    }
    close(ends[1]);
    channel_ = ends[0];
    ready_ = pid_ > 0 && seen().waiting >= 0;
    EXPECT_TRUE(ready_) << "the holder of " << path << " did not start";
}

TerminalHolder::~TerminalHolder() {
    if (channel_ >= 0) {
        close(channel_);
    }
    if (pid_ > 0) {
        waitpid(pid_, nullptr, 0);
    }
}

TerminalHolder::Seen TerminalHolder::seen() {
    Seen seen;
    char command = 's';
    // A child that died must not end the test with SIGPIPE.
    if (pid_ <= 0 || send(channel_, &command, 1, MSG_NOSIGNAL) != 1) {
        return seen;
    }
    pollfd watch{channel_, POLLIN, 0};
    if (poll(&watch, 1, 5000) != 1 ||
        recv(channel_, &seen, sizeof seen, MSG_WAITALL) != sizeof seen) {
        seen.waiting = -1;
    }
    return seen;
}

bool TerminalHolder::wait_waiting(int count) {
    return wait_until([&] { return seen().waiting == count; });
}
