#include "tests/support/pty_pair.h"

#include "tests/support/wait_until.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

PtyPair::PtyPair(bool hold_slave) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char path[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, path, sizeof path) != 0) {
        ADD_FAILURE() << "pseudo-terminal: " << std::strerror(errno);
        if (master_ >= 0) {
            close(master_);
        }
        master_ = -1;
        return;
    }
    slave_path_ = path;
    // A slave descriptor must be open for the settings to be read, hold or not.
    slave_ = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (slave_ < 0 || tcgetattr(slave_, &raw) != 0) {
        ADD_FAILURE() << path << ": " << std::strerror(errno);
        return;
    }
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    if (!hold_slave) {
        close(slave_);
        slave_ = -1;
    }
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) {
        close(slave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

std::string PtyPair::read_master(std::size_t count, std::chrono::milliseconds deadline) {
    std::string bytes;
    wait_until(
        [&] {
            char buffer[256];
            ssize_t got = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (got > 0) {
                bytes.append(buffer, static_cast<std::size_t>(got));
            }
            // EIO only means that no slave is open just now.
            bool broken = got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO;
            return bytes.size() >= count || broken;
        },
        deadline);
    return bytes;
}

std::string PtyPair::read_master_now() {
    std::string bytes;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(master_, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool PtyPair::write_master(const std::string& bytes) {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool PtyPair::wait_slave_input(int count, std::chrono::milliseconds deadline) {
    if (slave_ < 0) {
        return false;
    }
    return wait_until(
        [&] {
            int waiting = 0;
            return ioctl(slave_, FIONREAD, &waiting) == 0 && waiting >= count;
        },
        deadline);
}

termios PtyPair::slave_settings() const {
    termios settings{};
    int descriptor = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0 || tcgetattr(descriptor, &settings) != 0) {
        ADD_FAILURE() << slave_path_ << ": " << std::strerror(errno);
    }
    if (descriptor >= 0) {
        close(descriptor);
    }
    return settings;
}
