// Serial ports on real pseudo-terminals: the test plays the device at the
// master and checks what reaches the line and what the kernel holds open.
#include "serial/serial_port.h"

#include "base/owners.h"
#include "tests/support/descriptor_count.h"
#include "tests/support/port_reads.h"
#include "tests/support/processes.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

const char test_text[] = "This is a test!";

class SerialPortTest : public testing::Test {
  protected:
    void SetUp() override {
        serial_init();
        ASSERT_TRUE(pty.ok());
    }
    void TearDown() override { serial_close_all(); }

    // The tester's own call, as the test worker makes it.
    static object_number open_port(object_number number, const std::string& path) {
        return serial_open(number, path.c_str(), 9600, 0, 8, 1.0f, 0, 128, 128);
    }

    // Descriptors on the slave besides the pair's own.
    int ports_on(const PtyPair& pair) const { return descriptors_open_on(pair.slave_path()) - 1; }

    PtyPair pty;
};

TEST_F(SerialPortTest, OpensWithTheTestersLineSettings) {
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    EXPECT_LT(port, -1) << "OBJECT_ANY gives an automatic number";
    EXPECT_EQ(ports_on(pty), 1);

    termios line = pty.slave_settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(line.c_cflag & (CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS));
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_EQ(line.c_cc[VEOF], 4);
    EXPECT_EQ(line.c_cc[VSTART], 21);
    EXPECT_EQ(line.c_cc[VSTOP], 23);
}

TEST_F(SerialPortTest, OtherLineSettingsReachTheLine) {
    // Mark parity, two stop bits, RTS/CTS at the fastest rate.
    ASSERT_NE(serial_open(OBJECT_ANY, pty.slave_path().c_str(), 115200, 3, 8, 2.0f, 2, 1, 1), 0);
    termios line = pty.slave_settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_TRUE(line.c_cflag & CRTSCTS);
    EXPECT_TRUE(serial_close(-1));

    // Space parity and 1.5 stop bits (which means two).
    ASSERT_NE(serial_open(OBJECT_ANY, pty.slave_path().c_str(), 50, 4, 8, 1.5f, 1, 1, 1), 0);
    line = pty.slave_settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B50));
    EXPECT_EQ(line.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR));
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_FALSE(line.c_cflag & CRTSCTS);
    EXPECT_TRUE(serial_close(-1));

    // Parity code 7 opens without parity; 0 baud is taken as B0.
    ASSERT_NE(serial_open(OBJECT_ANY, pty.slave_path().c_str(), 0, 7, 8, 1.0f, 0, 1, 1), 0);
    line = pty.slave_settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B0));
    EXPECT_FALSE(line.c_cflag & (PARODD | CMSPAR));
    EXPECT_TRUE(serial_close(-1));

    // Software flow control keeps the speed.
    ASSERT_NE(serial_open(OBJECT_ANY, pty.slave_path().c_str(), 9600, 0, 8, 1.0f, 3, 1, 1), 0);
    line = pty.slave_settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(IGNPAR | IXON | IXOFF | IXANY));
    EXPECT_TRUE(serial_close(-1));

    // Rates as a user picks them from the usual list.
    for (auto [rate, speed] : std::initializer_list<std::pair<int, speed_t>>{
             {1200, B1200}, {4800, B4800}, {19200, B19200}, {38400, B38400}, {57600, B57600}}) {
        ASSERT_NE(serial_open(OBJECT_ANY, pty.slave_path().c_str(), rate, 0, 8, 1.0f, 0, 1, 1), 0);
        line = pty.slave_settings();
        EXPECT_EQ(cfgetospeed(&line), speed) << rate;
        EXPECT_TRUE(serial_close(-1));
    }
}

TEST_F(SerialPortTest, RefusedSettingsLeaveTheDeviceUntouchedAndNothingOpen) {
    // Waiting input shows whether the device was touched: an open drops it.
    ASSERT_TRUE(pty.write_master("old"));
    ASSERT_TRUE(pty.wait_slave_input(3));
    int descriptors = open_descriptor_count();
    const char* path = pty.slave_path().c_str();
    struct Refused {
        int baud, parity, data_bits;
        float stop_bits;
        int handshake;
    };
    for (Refused refused : std::initializer_list<Refused>{{134, 0, 8, 1.0f, 0},
                                                          {200, 0, 8, 1.0f, 0},
                                                          {230400, 0, 8, 1.0f, 0},
                                                          {-1, 0, 8, 1.0f, 0},
                                                          {9600, 0, 4, 1.0f, 0},
                                                          {9600, 0, 9, 1.0f, 0},
                                                          {9600, 0, 8, 1.0f, -1},
                                                          {9600, 0, 8, 1.0f, 4}}) {
        EXPECT_EQ(serial_open(OBJECT_ANY, path, refused.baud, refused.parity, refused.data_bits,
                              refused.stop_bits, refused.handshake, 128, 128),
                  0)
            << refused.baud << " " << refused.data_bits << " " << refused.handshake;
        EXPECT_EQ(serial_open(2, path, refused.baud, refused.parity, refused.data_bits,
                              refused.stop_bits, refused.handshake, 128, 128),
                  0);
    }
    EXPECT_EQ(open_port(-5, pty.slave_path()), 0) << "neither explicit nor OBJECT_ANY";
    EXPECT_EQ(serial_open(OBJECT_ANY, nullptr, 9600, 0, 8, 1.0f, 0, 128, 128), 0);
    EXPECT_EQ(open_port(OBJECT_ANY, pty.slave_path() + "-missing"), 0);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    EXPECT_EQ(ports_on(pty), 0);
    EXPECT_TRUE(pty.wait_slave_input(3));
}

TEST_F(SerialPortTest, AnOpenDropsInputThatArrivedBefore) {
    ASSERT_TRUE(pty.write_master("old"));
    ASSERT_TRUE(pty.wait_slave_input(3));
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    EXPECT_EQ(serial_input_available(port), 0);
    ASSERT_TRUE(pty.write_master("new"));
    EXPECT_EQ(read_port(port, 3), "new");
}

TEST_F(SerialPortTest, ExplicitNumberIsReusedOnlyOnceTheNewDeviceHasOpened) {
    PtyPair second;
    ASSERT_TRUE(second.ok());
    object_number first_descriptor = open_port(3, pty.slave_path());
    ASSERT_GT(first_descriptor, 0);
    EXPECT_EQ(ports_on(pty), 1);

    // A second device that cannot be opened, or settings that are refused,
    // leave the first port open and working under number 3.
    EXPECT_EQ(open_port(3, second.slave_path() + "-missing"), 0);
    EXPECT_EQ(serial_open(3, second.slave_path().c_str(), 134, 0, 8, 1.0f, 0, 1, 1), 0);
    EXPECT_EQ(ports_on(pty), 1);
    EXPECT_EQ(serial_write_string(3, "A"), 1);
    EXPECT_EQ(pty.read_master(1), "A");

    object_number second_descriptor = open_port(3, second.slave_path());
    ASSERT_GT(second_descriptor, 0);
    // Both were open at one moment, so the kernel gave different numbers.
    EXPECT_NE(second_descriptor, first_descriptor);
    EXPECT_EQ(ports_on(pty), 0);
    EXPECT_EQ(ports_on(second), 1);
    EXPECT_EQ(serial_write_string(3, "B"), 1);
    EXPECT_EQ(second.read_master(1), "B");
    EXPECT_EQ(pty.read_master_now(), "");
}

TEST_F(SerialPortTest, WritesReachTheLineAndCountWhatWasTaken) {
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    EXPECT_EQ(serial_write_string(port, test_text), 15);
    EXPECT_EQ(pty.read_master(15), test_text);

    // Plain sends bytes from 0x80 up as they are; unknown codes act as plain.
    EXPECT_EQ(serial_write(port, "\xE9\xA4", TEXT_FORMAT_PLAIN), 2);
    EXPECT_EQ(pty.read_master(2), "\xE9\xA4");
    EXPECT_EQ(serial_write(port, "x\xFF", 7), 2);
    EXPECT_EQ(pty.read_master(2), "x\xFF");
    // UTF-8 counts the bytes of the converted form.
    EXPECT_EQ(serial_write(port, "Gr\xFC\xDF", TEXT_FORMAT_UTF8), 6);
    EXPECT_EQ(pty.read_master(6), "Gr\xC3\xBC\xC3\x9F");
    // Wide sends each character as a 16-bit unit, low byte first.
    EXPECT_EQ(serial_write(port, "Ab\xE9", TEXT_FORMAT_WIDE), 6);
    EXPECT_EQ(pty.read_master(6), std::string("A\0b\0\xE9\0", 6));

    EXPECT_EQ(serial_write_string(port, ""), 0);
    EXPECT_EQ(serial_write_string(port, nullptr), 0);
    EXPECT_EQ(serial_write(port, "", TEXT_FORMAT_WIDE), 0);
    EXPECT_EQ(serial_write_string(port, "tail"), 4);
    EXPECT_EQ(pty.read_master(4), "tail") << "nothing else went out";
}

TEST_F(SerialPortTest, PollAndReadCountTheWaitingBytes) {
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    char buffer[16] = {};
    EXPECT_EQ(serial_input_available(port), 0);
    EXPECT_EQ(serial_read(port, buffer, sizeof buffer), 0) << "nothing waiting returns at once";

    ASSERT_TRUE(pty.write_master(std::string("ec\0ho", 5)));
    ASSERT_TRUE(wait_until([&] { return serial_input_available(port) == 5; }));
    EXPECT_EQ(serial_read(port, buffer, 0), 0);
    EXPECT_EQ(serial_read(port, nullptr, 4), 0);
    EXPECT_EQ(serial_input_available(port), 5) << "refused reads took nothing";
    EXPECT_EQ(serial_read(port, buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "ec");
    EXPECT_EQ(serial_input_available(port), 3);
    EXPECT_EQ(serial_read(port, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0ho", 3));
    EXPECT_EQ(serial_input_available(port), 0);
    EXPECT_EQ(serial_read(port, buffer, sizeof buffer), 0);
}

// The loopback test counts a poll as empty only when its whole interval
// passed without input: a byte must end the wait at once, and a device that
// hangs up must not end it early (or a vanished adapter would use up every try
// in an instant).
TEST_F(SerialPortTest, WaitingForInputEndsWithAByteAndOnlyThen) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(serial_wait_input(port, 50), 0);
    EXPECT_GE(Clock::now() - start, 50ms);

    std::thread sender([&] {
        std::this_thread::sleep_for(50ms);
        pty.write_master("e");
    });
    start = Clock::now();
    EXPECT_EQ(serial_wait_input(port, 30000), 1);
    EXPECT_LT(Clock::now() - start, 10s) << "the byte did not end the wait";
    sender.join();

    TempFolder folder;
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--vanish-after-bytes=1"});
    ASSERT_TRUE(adapter.ready());
    object_number vanishing = open_port(OBJECT_ANY, adapter.link());
    ASSERT_NE(vanishing, 0);
    ASSERT_EQ(serial_write_string(vanishing, "x"), 1);
    ASSERT_TRUE(adapter.wait_for_exit(5s));
    start = Clock::now();
    EXPECT_EQ(serial_wait_input(vanishing, 200), 0);
    EXPECT_GE(Clock::now() - start, 200ms) << "a hung-up device ended the wait early";
    EXPECT_EQ(serial_wait_input(12345, 30000), 0);
}

TEST_F(SerialPortTest, NumbersThatNameNoPortDoNothing) {
    char buffer[4];
    for (object_number none : {object_number{0}, object_number{5}, object_number{12345},
                               object_number{-2}, object_number{-77}}) {
        EXPECT_EQ(serial_write_string(none, "x"), 0) << none;
        EXPECT_EQ(serial_input_available(none), 0) << none;
        EXPECT_EQ(serial_read(none, buffer, sizeof buffer), 0) << none;
        EXPECT_TRUE(serial_close(none));
    }
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    EXPECT_TRUE(serial_close(port));
    EXPECT_EQ(ports_on(pty), 0);
    ASSERT_TRUE(pty.write_master("late"));
    ASSERT_TRUE(pty.wait_slave_input(4));
    EXPECT_EQ(serial_write_string(port, "x"), 0);
    EXPECT_EQ(serial_input_available(port), 0);
    EXPECT_EQ(serial_read(port, buffer, sizeof buffer), 0);
    EXPECT_TRUE(serial_close(port));
    EXPECT_EQ(pty.read_master_now(), "");
}

// A stuck adapter leaves output unsent; closing must discard it rather than
// wait for it to drain (a USB port waits up to 30 s).
TEST_F(SerialPortTest, CloseDiscardsOutputNotYetSent) {
    object_number port = open_port(OBJECT_ANY, pty.slave_path());
    ASSERT_NE(port, 0);
    const std::string block(1024, 'x');
    std::size_t accepted = 0;
    for (int written = 0; (written = serial_write_string(port, block.c_str())) > 0;) {
        accepted += static_cast<std::size_t>(written);
    }
    // The master's line buffer holds 4095 bytes; the rest waits in the queue.
    ASSERT_GT(accepted, 3 * 4096u) << "the queue did not fill";
    EXPECT_TRUE(serial_close(port));
    std::string arrived = pty.read_master(accepted, std::chrono::seconds(1));
    EXPECT_LE(arrived.size(), 4096u) << "output queued before the close was still sent";
}

// A stuck adapter's close takes up to 30 s; every other port works meanwhile.
// The slow close is the driver emulation's: this test runs itself again with
// it preloaded, and the part under the emulation comes first.
TEST_F(SerialPortTest, ASlowCloseKeepsNoOtherPortWaiting) {
    if (const char* stuck = std::getenv("LANTORIC_EMULATED_PORT")) {
        OwnedDescriptor look(open(stuck, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(look);
        ASSERT_GT(open_port(1, stuck), 0);
        ASSERT_GT(open_port(2, pty.slave_path()), 0);
        std::thread closing([] { EXPECT_TRUE(serial_close(1)); });
        // The exclusive hold ends right before the descriptor's close.
        EXPECT_TRUE(wait_until([&] {
            int held = 1;
            return ioctl(look.get(), TIOCGEXCL, &held) == 0 && held == 0;
        }));
        EXPECT_EQ(serial_write_string(2, "x"), 1);
        EXPECT_EQ(descriptors_open_on(stuck), 2) << "the write waited for the close to end";
        unlink(stuck); // unplugged: the close ends
        closing.join();
        return;
    }
#ifdef LANTORIC_DRIVER_EMULATION_PATH
    TempFolder folder;
    folder.add_link("stuck", pty.slave_path());
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> command = under_driver_emulation(
        LANTORIC_DRIVER_EMULATION_PATH, folder.path_of("stuck"), "slow-close");
    command.insert(command.end(), {self, std::string("--gtest_filter=") + test->test_suite_name() +
                                             "." + test->name()});
    ToolRun run = run_tool(command, std::chrono::seconds(60));
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test."), std::string::npos) << run.output;
#else
    GTEST_SKIP() << "the driver emulation was not built";
#endif
}

TEST_F(SerialPortTest, CloseMinusOneClosesEveryPort) {
    // A port is held by one user, so each open has a terminal of its own.
    PtyPair second;
    PtyPair third;
    PtyPair fourth;
    ASSERT_TRUE(second.ok() && third.ok() && fourth.ok());
    object_number explicit_low = open_port(0, pty.slave_path());
    object_number explicit_high = open_port(7, second.slave_path());
    object_number automatic_first = open_port(OBJECT_ANY, third.slave_path());
    object_number automatic_second = open_port(OBJECT_ANY, fourth.slave_path());
    ASSERT_GT(explicit_low, 0);
    ASSERT_GT(explicit_high, 0);
    ASSERT_NE(automatic_first, 0);
    ASSERT_NE(automatic_second, 0);
    for (const PtyPair* each : {&pty, &second, &third, &fourth}) {
        EXPECT_EQ(ports_on(*each), 1);
    }

    EXPECT_TRUE(serial_close(-1));
    for (const PtyPair* each : {&pty, &second, &third, &fourth}) {
        EXPECT_EQ(ports_on(*each), 0);
    }
    for (object_number closed :
         {object_number{0}, object_number{7}, automatic_first, automatic_second}) {
        EXPECT_EQ(serial_write_string(closed, "x"), 0) << closed;
    }
    EXPECT_TRUE(serial_close(-1));
    serial_close_all();

    // Explicit slots are reusable afterwards.
    EXPECT_GT(open_port(0, pty.slave_path()), 0);
    EXPECT_EQ(ports_on(pty), 1);
}

TEST_F(SerialPortTest, DevicePathsKeepTheirBytes) {
    TempFolder folder;
    // Re-encoding the byte 0xE9 as UTF-8 would name the other entry.
    folder.add_link("port\xE9", pty.slave_path());
    folder.add_link("port\xC3\xA9", "/dev/null");
    object_number port = open_port(OBJECT_ANY, folder.path() + "/port\xE9");
    ASSERT_NE(port, 0);
    EXPECT_EQ(serial_write_string(port, "ok"), 2);
    EXPECT_EQ(pty.read_master(2), "ok");
}

TEST_F(SerialPortTest, APortOpenedAsDescriptorZeroStillCountsAsOpen) {
    // With standard input closed the kernel hands out descriptor 0, which a
    // record would take for "closed".
    // (If the test runs with standard input already closed there is nothing
    // to put back.)
    PtyPair second;
    ASSERT_TRUE(second.ok());
    int saved_input = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    object_number descriptor = open_port(4, pty.slave_path());
    object_number automatic = open_port(OBJECT_ANY, second.slave_path());
    int zero_target = fcntl(STDIN_FILENO, F_GETFD);
    if (saved_input >= 0) {
        dup2(saved_input, STDIN_FILENO);
        close(saved_input);
    }

    EXPECT_GT(descriptor, 0);
    EXPECT_NE(automatic, 0);
    EXPECT_EQ(zero_target, -1) << "descriptor 0 was left open";
    EXPECT_EQ(serial_write_string(4, "z"), 1);
    EXPECT_EQ(pty.read_master(1), "z");
    EXPECT_TRUE(serial_close(4));
    EXPECT_TRUE(serial_close(automatic));
    EXPECT_EQ(ports_on(pty), 0);
    EXPECT_EQ(ports_on(second), 0);
}

} // namespace
