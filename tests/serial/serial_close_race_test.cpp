// Shutdown closes every port while a test worker may still be using its own.
// The worker's later calls must return 0, must not reach the kernel through
// the closed descriptor and must never reach another device that the kernel
// opened under the worker's old descriptor number.
#include "serial/serial_port.h"

#include "tests/support/descriptor_count.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_until.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/ioctl.h>
#include <thread>

namespace {

// Set in the port user's thread: its FIONREAD calls pause before they reach
// the kernel, which widens the moment between the serial layer finding the
// descriptor and using it to a few hundred microseconds.
thread_local bool pause_before_fionread = false;
std::atomic<bool> port_closed{false};
std::atomic<long> kernel_calls_after_close{0};

} // namespace

// Interposed in this test program only: the real call, with the pause and a
// count of the calls that reach the kernel after the close returned.
extern "C" int ioctl(int descriptor, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    using ioctl_call = int (*)(int, unsigned long, ...);
    static auto real_ioctl = reinterpret_cast<ioctl_call>(dlsym(RTLD_NEXT, "ioctl"));
    if (pause_before_fionread && request == FIONREAD) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        if (port_closed) {
            ++kernel_calls_after_close;
        }
    }
    return real_ioctl(descriptor, request, argument);
}

namespace {

// Uses one port from its own thread, as the test worker does, until stopped.
class PortUser {
  public:
    explicit PortUser(object_number port) : port_(port), thread_([this] { run(); }) {}
    ~PortUser() { stop(); }

    void stop() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    long calls_after_close() const { return calls_after_close_; }
    long answers_after_close() const { return answers_after_close_; }
    long bytes_written_before_close() const { return written_before_close_; }

  private:
    void run() {
        pause_before_fionread = true;
        char buffer[8];
        while (!stopping_) {
            // Read first: a call that began after the close must return 0.
            bool after_close = port_closed;
            int written = serial_write_string(port_, "x");
            int waiting = serial_input_available(port_);
            int read = serial_read(port_, buffer, sizeof buffer);
            if (after_close) {
                ++calls_after_close_;
                answers_after_close_ += (written != 0) + (waiting != 0) + (read != 0);
            } else {
                written_before_close_ += written;
            }
        }
    }

    object_number port_;
    std::atomic<bool> stopping_{false};
    std::atomic<long> calls_after_close_{0};
    std::atomic<long> answers_after_close_{0};
    std::atomic<long> written_before_close_{0};
    std::thread thread_;
};

// Opens a port on the pair and tells which descriptor it got.
int open_and_find_descriptor(object_number number, const PtyPair& pair, object_number* port) {
    auto before = descriptors_on(pair.slave_path());
    *port = serial_open(number, pair.slave_path().c_str(), 9600, 0, 8, 1.0f, 0, 128, 128);
    auto after = descriptors_on(pair.slave_path());
    std::vector<int> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    return added.size() == 1 ? added[0] : -1;
}

void close_while_in_use(object_number old_number, object_number new_number) {
    serial_init();
    for (int round = 0; round < 20; ++round) {
        port_closed = false;
        PtyPair old_device;
        PtyPair new_device;
        ASSERT_TRUE(old_device.ok() && new_device.ok());
        object_number old_port = 0;
        int old_descriptor = open_and_find_descriptor(old_number, old_device, &old_port);
        ASSERT_NE(old_port, 0);
        ASSERT_GE(old_descriptor, 0);

        // An explicit open returns the descriptor; the port is the number.
        PortUser user(old_number == OBJECT_ANY ? old_port : old_number);
        ASSERT_TRUE(old_device.write_master("input"));
        ASSERT_TRUE(wait_until([&] { return user.bytes_written_before_close() > 10; }))
            << "the user never reached its port";
        serial_close_all();
        port_closed = true;
        EXPECT_EQ(descriptors_open_on(old_device.slave_path()), 1) << "only the pair's own";

        object_number new_port = 0;
        int new_descriptor = open_and_find_descriptor(new_number, new_device, &new_port);
        ASSERT_NE(new_port, 0);
        // The case that matters: the old descriptor number now names the new device.
        EXPECT_EQ(new_descriptor, old_descriptor);
        ASSERT_TRUE(new_device.write_master("fresh"));
        EXPECT_TRUE(wait_until([&] { return user.calls_after_close() > 50; }));
        user.stop();

        EXPECT_EQ(user.answers_after_close(), 0) << "round " << round;
        EXPECT_EQ(kernel_calls_after_close, 0) << "round " << round;
        EXPECT_EQ(new_device.read_master_now(), "") << "the old number wrote to the new device";
        object_number new_handle = new_number == OBJECT_ANY ? new_port : new_number;
        EXPECT_TRUE(wait_until([&] { return serial_input_available(new_handle) == 5; }))
            << "the old number read from the new device";
        EXPECT_TRUE(serial_close(new_handle));
    }
}

} // namespace

TEST(SerialCloseRace, AutomaticNumberClosedByShutdownNeverReachesTheNextDevice) {
    close_while_in_use(OBJECT_ANY, OBJECT_ANY);
}

TEST(SerialCloseRace, ExplicitNumberClosedByShutdownNeverReachesTheNextDevice) {
    // The new device takes another explicit number; reusing the same one
    // would hand it to the old user on purpose.
    close_while_in_use(1, 2);
}
