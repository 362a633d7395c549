// The adapter simulator, driven through the serial layer as the tester drives
// a real adapter: each mode gives the bytes it promises.
#include "serial/serial_port.h"

#include "tests/support/port_reads.h"
#include "tests/support/processes.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string test_text = "This is a test!";

bool path_exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// Runs the simulator to its end with these arguments; its exit status.
int run_simulator(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LANTORIC_SIMULATOR_PATH);
    return run_tool(arguments).status;
}

class AdapterSimulatorTest : public testing::Test {
  protected:
    void SetUp() override { serial_init(); }
    void TearDown() override { serial_close_all(); }

    // The tester's open of the adapter behind link.
    static object_number open_adapter(const std::string& link) {
        return serial_open(OBJECT_ANY, link.c_str(), 9600, 0, 8, 1.0f, 0, 128, 128);
    }

    // Opens the adapter, sends the test text and returns what came back
    // within the deadline, up to count bytes.
    static std::string exchange(const SimulatedAdapter& adapter, std::size_t count,
                                std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        object_number port = open_adapter(adapter.link());
        EXPECT_NE(port, 0);
        EXPECT_EQ(serial_write_string(port, test_text.c_str()), 15);
        std::string answer = read_port(port, count, deadline);
        EXPECT_TRUE(serial_close(port));
        return answer;
    }

    TempFolder folder;
};

TEST_F(AdapterSimulatorTest, LinksUnderDevWhereDiscoveryLooksAndEchoes) {
    std::string link = unique_device_link();
    EXPECT_EQ(link.rfind("/dev/ttyUSB", 0), 0u);
    {
        SimulatedAdapter adapter(link);
        ASSERT_TRUE(adapter.ready());
        EXPECT_EQ(adapter.slave().rfind("/dev/pts/", 0), 0u);
        char target[64] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(adapter.slave(), target);
        // A second tester session on the same adapter works as the first.
        EXPECT_EQ(exchange(adapter, 15), test_text);
        EXPECT_EQ(exchange(adapter, 15), test_text);
    }
    EXPECT_FALSE(path_exists(link)) << "the link outlived the simulator";
}

// One mode, and what a tester's exchange gets from it: up to count bytes
// within the deadline.
struct Answer {
    const char* name;
    std::vector<std::string> options;
    std::size_t count;
    std::chrono::milliseconds deadline;
    std::string expected;
};

const Answer ANSWERS[] = {
    // Sixteen bytes asked, fifteen come: the echo and nothing more.
    {"Echo", {}, 16, std::chrono::milliseconds(300), test_text},
    {"Silent", {"--silent"}, 1, std::chrono::milliseconds(300), ""},
    {"ChangeFlipsTheLowestBit", {"--change=3"}, 15, std::chrono::seconds(5), "Thir is a test!"},
    {"BeforeZero", {"--before=0"}, 16, std::chrono::seconds(5), std::string(1, '\0') + test_text},
    {"BeforeOther", {"--before=0x7e"}, 16, std::chrono::seconds(5), "~" + test_text},
    {"TrailDots", {"--trail=4"}, 20, std::chrono::milliseconds(500), test_text + "...."},
};

// CTest lists a row by its name, not as a dump of its bytes.
void PrintTo(const Answer& row, std::ostream* out) {
    *out << row.name;
}

class SimulatorAnswer : public AdapterSimulatorTest, public testing::WithParamInterface<Answer> {};

TEST_P(SimulatorAnswer, GivesTheBytesItsModePromises) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), GetParam().options);
    ASSERT_TRUE(adapter.ready());
    EXPECT_EQ(exchange(adapter, GetParam().count, GetParam().deadline), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, SimulatorAnswer, testing::ValuesIn(ANSWERS),
                         [](const testing::TestParamInfo<Answer>& info) {
                             return std::string(info.param.name);
                         });

// The benchmark's wire: at 300 baud the 15 bytes need 500 ms, and no byte
// may come back before its time (a pace that sent everything at once would
// make the benchmark's figures meaningless).
TEST_F(AdapterSimulatorTest, PaceSpreadsTheEchoOverTheWireTime) {
    using namespace std::chrono_literals;
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--pace=300"});
    object_number port = open_adapter(adapter.link());
    ASSERT_NE(port, 0);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(serial_write_string(port, test_text.c_str()), 15);
    EXPECT_EQ(read_port(port, 1), "T");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 33ms) << "one byte takes 33 ms";
    EXPECT_EQ(read_port(port, 14), test_text.substr(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(serial_close(port));
}

TEST_F(AdapterSimulatorTest, EndlessTrailKeepsSendingDots) {
    SimulatedAdapter endless(unique_device_link(folder.path()), {"--trail=forever"});
    ASSERT_TRUE(endless.ready());
    // Far more than any line buffer holds: the dots keep coming.
    std::string answer = exchange(endless, 15 + 50000, std::chrono::seconds(20));
    ASSERT_EQ(answer.size(), 15u + 50000u);
    EXPECT_EQ(answer.substr(0, 15), test_text);
    EXPECT_EQ(answer.find_first_not_of('.', 15), std::string::npos);
}

TEST_F(AdapterSimulatorTest, FloodNeverFallsSilent) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--flood"});
    ASSERT_TRUE(adapter.ready());
    object_number port = open_adapter(adapter.link());
    ASSERT_NE(port, 0);
    std::string received = read_port(port, 50000, std::chrono::seconds(20));
    ASSERT_EQ(received.size(), 50000u);
    EXPECT_EQ(received.find_first_not_of('U'), std::string::npos);
    EXPECT_EQ(serial_write_string(port, test_text.c_str()), 15) << "the flood reads what comes";
}

TEST_F(AdapterSimulatorTest, ShortWriteMakesTheTestTextComeOutShort) {
    {
        SimulatedAdapter adapter(unique_device_link(folder.path()), {"--short-write"});
        ASSERT_TRUE(adapter.ready());
        object_number port = open_adapter(adapter.link());
        ASSERT_NE(port, 0);
        EXPECT_EQ(serial_write_string(port, test_text.c_str()), 5);
        EXPECT_EQ(serial_write_string(port, test_text.c_str()), 0) << "the line stays full";
    }
    for (const char* room : {"0", "14"}) {
        SimulatedAdapter adapter(unique_device_link(folder.path()),
                                 {std::string("--short-write=") + room});
        ASSERT_TRUE(adapter.ready());
        object_number port = open_adapter(adapter.link());
        ASSERT_NE(port, 0);
        EXPECT_EQ(serial_write_string(port, test_text.c_str()), std::atoi(room));
        EXPECT_TRUE(serial_close(port));
    }
}

TEST_F(AdapterSimulatorTest, VanishAfterBytesUnplugsTheDevice) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--vanish-after-bytes=15"});
    ASSERT_TRUE(adapter.ready());
    object_number port = open_adapter(adapter.link());
    ASSERT_NE(port, 0);
    ASSERT_EQ(serial_write_string(port, test_text.c_str()), 15);
    ASSERT_TRUE(adapter.wait_for_exit(std::chrono::seconds(5)));
    EXPECT_EQ(adapter.exit_status(), 0);
    EXPECT_FALSE(path_exists(adapter.link()));
    // The port is still open but the device behind it is gone.
    char buffer[16];
    EXPECT_EQ(serial_input_available(port), 0);
    EXPECT_EQ(serial_read(port, buffer, sizeof buffer), 0);
    EXPECT_EQ(serial_write_string(port, test_text.c_str()), 0);
    EXPECT_EQ(open_adapter(adapter.link()), 0);
}

TEST_F(AdapterSimulatorTest, VanishAfterTimeRemovesTheLink) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--vanish-after-ms=100"});
    ASSERT_TRUE(adapter.ready());
    ASSERT_TRUE(adapter.wait_for_exit(std::chrono::seconds(5)));
    EXPECT_EQ(adapter.exit_status(), 0);
    EXPECT_FALSE(path_exists(adapter.link()));
    EXPECT_FALSE(path_exists(adapter.slave())) << "the pseudo-terminal is gone too";
    EXPECT_EQ(open_adapter(adapter.link()), 0);
}

TEST_F(AdapterSimulatorTest, InterruptAndHangupEndItCleanly) {
    for (int signal_number : {SIGINT, SIGHUP}) {
        SimulatedAdapter adapter(unique_device_link(folder.path()));
        ASSERT_TRUE(adapter.ready());
        kill(adapter.pid(), signal_number);
        ASSERT_TRUE(adapter.wait_for_exit(std::chrono::seconds(5)));
        EXPECT_EQ(adapter.exit_status(), 0) << signal_number;
        EXPECT_FALSE(path_exists(adapter.link())) << signal_number;
    }
}

TEST_F(AdapterSimulatorTest, NeverReplacesAnExistingNode) {
    folder.add_file("ttyUSBfile");
    folder.add_link("ttyUSBlive", "/dev/null");
    std::string file = folder.path_of("ttyUSBfile");
    std::string live = folder.path_of("ttyUSBlive");
    EXPECT_EQ(run_simulator({file}), 1);
    EXPECT_EQ(run_simulator({live}), 1);
    struct stat status {};
    ASSERT_EQ(lstat(file.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    char target[64] = {};
    ASSERT_GT(readlink(live.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null");
}

TEST_F(AdapterSimulatorTest, ReplacesTheStaleLinkOfAKilledSimulator) {
    // The link is the simulator's to replace; the object's removal then finds none.
    DeviceLink stale(unique_device_link(folder.path()), "/dev/pts/999999");
    SimulatedAdapter adapter(stale.path());
    ASSERT_TRUE(adapter.ready());
    EXPECT_EQ(exchange(adapter, 15), test_text);
}

TEST_F(AdapterSimulatorTest, RefusesMistakenCommandLines) {
    std::string link = unique_device_link(folder.path());
    EXPECT_EQ(run_simulator({}), 2);
    EXPECT_EQ(run_simulator({"--silent", "--flood", link}), 2);
    EXPECT_EQ(run_simulator({"--short-write=15", link}), 2);
    EXPECT_FALSE(path_exists(link));
    EXPECT_EQ(run_simulator({"--help"}), 0);
}

} // namespace
