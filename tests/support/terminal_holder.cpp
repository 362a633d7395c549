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
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child's whole life. Only system calls: the parent may run threads.
[[noreturn]] void hold(const char* path, TerminalHolder::Use use, int commands, int replies) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int descriptor = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (descriptor < 0 || tcgetattr(descriptor, &settings) != 0) {
        _exit(1);
    }
    if (use.line_mode_115200) {
        cfsetispeed(&settings, B115200);
        cfsetospeed(&settings, B115200);
        settings.c_lflag |= ICANON | ECHO;
        tcsetattr(descriptor, TCSANOW, &settings);
    }
    if ((use.take_flock && flock(descriptor, LOCK_EX | LOCK_NB) != 0) ||
        (use.take_exclusive && ioctl(descriptor, TIOCEXCL) != 0)) {
        _exit(1);
    }
    char command = 0;
    // Each command byte asks for one report; the end of the pipe ends the child.
    for (;;) {
        TerminalHolder::Seen seen;
        if (read(commands, &command, 1) != 1) {
            _exit(0);
        }
        tcgetattr(descriptor, &seen.settings);
        if (ioctl(descriptor, FIONREAD, &seen.waiting) != 0) {
            seen.waiting = -1;
        }
        if (write(replies, &seen, sizeof seen) != static_cast<ssize_t>(sizeof seen)) {
            _exit(1);
        }
    }
}

} // namespace

TerminalHolder::TerminalHolder(const std::string& path, Use use) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(to_child[1]);
        close(from_child[0]);
        hold(path.c_str(), use, to_child[0], from_child[1]);
    }
    close(to_child[0]);
    close(from_child[1]);
    commands_ = to_child[1];
    replies_ = from_child[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return;
    }
    ready_ = seen().waiting >= 0;
    EXPECT_TRUE(ready_) << "the holder of " << path << " did not start";
}

TerminalHolder::~TerminalHolder() {
    if (commands_ >= 0) {
        close(commands_);
    }
    if (replies_ >= 0) {
        close(replies_);
    }
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

TerminalHolder::Seen TerminalHolder::seen() {
    Seen seen;
    char command = 's';
    if (pid_ <= 0 || write(commands_, &command, 1) != 1) {
        return seen;
    }
    pollfd watch{replies_, POLLIN, 0};
    if (poll(&watch, 1, 5000) != 1 || read(replies_, &seen, sizeof seen) != sizeof seen) {
        seen.waiting = -1;
    }
    return seen;
}

bool TerminalHolder::wait_waiting(int count) {
    return wait_until([&] { return seen().waiting == count; });
}
