// The ECU on the simulator's K-line: what its UART and the tester's read of a
// byte sent at another rate, and a wake-up given to it by hand, the way the
// driver emulation hands it the tester's break changes.
#include "serial/line_rate.h"
#include "tools/ecu/ecu_model.h"
#include "tools/ecu/uart_sampling.h"

#include "tests/support/device_links.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct Sampling {
    unsigned char sent;
    long sent_rate;
    long read_rate;
    unsigned char read;
    bool framing_error;
};

const Sampling SAMPLINGS[] = {
    {0x55, 10400, 10400, 0x55, false},
    // A few per cent apart every bit is still read in its middle.
    {0x8F, 10400, 10000, 0x8F, false},
    {0x8F, 10000, 10400, 0x8F, false},
    // A 9600 ECU's sync byte at 10400; a 10400 ECU's at a CP2102's 14400.
    {0x55, 9600, 10400, 0x95, true},
    {0x55, 10400, 14400, 0x5B, true},
    // The fast init's zero byte at 360 baud is a long low to a 10400 UART.
    {0x00, 360, 10400, 0x00, true},
};

TEST(UartSampling, ReadsWhatAReceiverAtItsOwnRateSamples) {
    for (const Sampling& row : SAMPLINGS) {
        const UartByte read = uart_sample(row.sent, row.sent_rate, row.read_rate);
        EXPECT_EQ(read.value, row.read) << std::hex << int(row.sent) << " sent at " << std::dec
                                        << row.sent_rate << " read at " << row.read_rate;
        EXPECT_EQ(read.framing_error, row.framing_error) << std::hex << int(row.sent);
    }
}

// A fast init on the model's own clock, exact to the millisecond: the idle
// before it, its low phase and the pause before StartCommunication, each at
// and just past the edges the model lets through.
TEST(EcuModelClock, AFastInitOffItsWindowsGoesUnanswered) {
    struct Row {
        int idle_ms, low_ms, pause_ms;
        bool answered;
    };
    const Row rows[] = {
        {300, 25, 25, true}, {299, 25, 25, false},  {300, 22, 25, true}, {300, 21, 25, false},
        {300, 30, 25, true}, {300, 31, 25, false},  {300, 25, 20, true}, {300, 25, 19, false},
        {300, 25, 99, true}, {300, 25, 101, false},
    };
    for (const Row& row : rows) {
        const EcuTime start{std::chrono::seconds(10)};
        EcuSettings kwp_fast;
        kwp_fast.kind = EcuKind::kwp_fast;
        EcuModel ecu(kwp_fast, start, {});
        const EcuTime low_at = start + std::chrono::milliseconds(row.idle_ms);
        ecu.advance(low_at);
        ecu.line_low(low_at);
        const EcuTime high_at = low_at + std::chrono::milliseconds(row.low_ms);
        ecu.advance(high_at);
        ecu.line_high(high_at);
        EcuTime at = high_at + std::chrono::milliseconds(row.pause_ms);
        for (const unsigned char value : {0xC1, 0x33, 0xF1, 0x81, 0x66}) {
            ecu.advance(at);
            ecu.hear(HeardByte{value, false, at, at + byte_time(10400), value, 10400});
            at += byte_time(10400);
        }
        const std::vector<SentByte> sent = ecu.take_sent();
        EXPECT_EQ(!sent.empty() && sent.front().value == 0x83, row.answered)
            << "idle " << row.idle_ms << " low " << row.low_ms << " pause " << row.pause_ms;
    }
}

// The tester's side of the line: the link opened raw at 10400 baud.
int open_tester(const std::string& link) {
    const int port = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (port < 0 || tcgetattr(port, &raw) != 0) {
        ADD_FAILURE() << link << " did not open";
        return port;
    }
    cfmakeraw(&raw);
    EXPECT_EQ(tcsetattr(port, TCSANOW, &raw), 0);
    EXPECT_TRUE(set_line_rate(port, 10400));
    return port;
}

std::string read_for(int port, std::size_t count, std::chrono::milliseconds deadline) {
    std::string got;
    wait_until(
        [&] {
            char buffer[64];
            const ssize_t read_now = read(port, buffer, sizeof buffer);
            if (read_now > 0) {
                got.append(buffer, static_cast<std::size_t>(read_now));
            }
            return got.size() >= count;
        },
        deadline);
    return got;
}

long long steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct FastInit {
    const char* name;
    int low_ms;
    const char* answer; // after the echo
};

const FastInit FAST_INITS[] = {
    {"LowOf25msWakesIt", 25, "\x83\xF1\x10\xC1\xEF\x8F\xC3"},
    {"LowOf40msIsNoWakeUp", 40, ""},
};

// CTest lists a row by its name, not as a dump of its bytes.
void PrintTo(const FastInit& row, std::ostream* out) {
    *out << row.name;
}

class EcuWakeUp : public testing::TestWithParam<FastInit> {};

// The break lines the emulation would write, then StartCommunication on the
// pseudo-terminal: the ECU answers only the wake-up inside its window.
TEST_P(EcuWakeUp, ByBreakLinesThroughItsFifo) {
    TempFolder folder;
    SimulatedAdapter adapter(
        SimulatedCar{unique_device_link(folder.path()), "kwp-fast", {}, folder.path()});
    ASSERT_TRUE(adapter.ready());
    const int port = open_tester(adapter.link());
    ASSERT_GE(port, 0);
    const int fifo = open(adapter.breaks_fifo().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    // The bus idle long enough; the low ends 30 ms before StartCommunication.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const long long high_at = steady_ms() - 30;
    const std::string lines = "on " + std::to_string(high_at - GetParam().low_ms) + "\noff " +
                              std::to_string(high_at) + "\n";
    ASSERT_EQ(write(fifo, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    const std::string request("\xC1\x33\xF1\x81\x66");
    ASSERT_EQ(write(port, request.data(), request.size()), 5);
    const std::string expected = request + GetParam().answer;
    EXPECT_EQ(read_for(port, expected.size(), std::chrono::seconds(3)), expected);
    EXPECT_EQ(read_for(port, 1, std::chrono::milliseconds(300)), "") << "nothing more follows";
    EXPECT_NE(adapter.ecu_log_text().find("FASTINIT low " + std::to_string(GetParam().low_ms)),
              std::string::npos)
        << adapter.ecu_log_text();
    close(fifo);
    close(port);
}

INSTANTIATE_TEST_SUITE_P(FastInits, EcuWakeUp, testing::ValuesIn(FAST_INITS),
                         [](const testing::TestParamInfo<FastInit>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
