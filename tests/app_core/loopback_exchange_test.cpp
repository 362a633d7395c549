// The loopback exchange on its own, without any toolkit: every verdict, bound
// and timing edge against simulated adapters on pseudo-terminals. The window's
// worker and lantoric-check only add what each shows of it.
#include "app/core/loopback_exchange.h"

#include "serial/serial_port.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string TEXT = TEST_TEXT;

struct Exchange {
    const char* name;
    std::vector<std::string> simulator;
    LoopbackVerdict verdict;
    std::string received_bytes; // every byte read, zero bytes included
    std::string received_text;  // as the window shows it
    ExchangeBounds bounds = {};
    bool port_gone = false;
    // Only a beginning of the echo comes (the device went, or the budget ran
    // out): what came is a beginning of the text.
    bool in_part = false;
    // How long the exchange may take, from the write to its verdict.
    Clock::duration at_least = 0s;
    Clock::duration at_most = 3s;
};

ExchangeBounds with(int tries, std::chrono::milliseconds limit, bool end_when_gone = false) {
    return {tries, limit, end_when_gone};
}

std::string flipped(std::size_t position) {
    std::string text = TEXT;
    text[position] = static_cast<char>(text[position] ^ 0x01);
    return text;
}

const Exchange EXCHANGES[] = {
    {"Echo", {}, LoopbackVerdict::success, TEXT, TEXT},
    // 100 polls of 10 ms without input: a second of silence, then timeout.
    {"Silence", {"--silent"}, LoopbackVerdict::timeout, "", "", {}, false, false, 1s},
    {"AChangedByte", {"--change=4"}, LoopbackVerdict::timeout, flipped(4), flipped(4), {}, false,
     false, 1s},
    {"AZeroByteBeforeAddsNothing",
     {"--before=0"},
     LoopbackVerdict::success,
     std::string(1, '\0') + TEXT,
     TEXT},
    {"ANonZeroByteBeforeSpoilsIt",
     {"--before=0x41"},
     LoopbackVerdict::timeout,
     "A" + TEXT,
     "A" + TEXT,
     {},
     false,
     false,
     1s},
    {"BytesAfterTheEchoAreNotRead", {"--trail=20"}, LoopbackVerdict::success, TEXT, TEXT},
    {"AShortWrite", {"--short-write"}, LoopbackVerdict::not_able_to_transmit, "", ""},
    // Unplugged mid-echo: the window listens out its silence,
    // the doctor's bounds end at once; both know the port went away.
    {"GoneAfterTheWrite", {"--vanish-after-bytes=5"}, LoopbackVerdict::timeout, "", "", {},
     true, true, 1s},
    // Ten seconds of silence allowed: only ending when the port goes ends it
    // within the bound.
    {"GoneEndsAtOnceWhenAsked",
     {"--vanish-after-bytes=5"},
     LoopbackVerdict::timeout,
     "",
     "",
     with(1000, 10s, true),
     true,
     true,
     0s,
     500ms},
    // A bus that never falls silent: cut off at the time limit, the texts
    // bounded.
    {"AFloodIsCutOffAtTheTimeLimit",
     {"--flood=0x55"},
     LoopbackVerdict::timeout,
     std::string(TEST_RECEIVE_LIMIT, 'U'),
     std::string(TEST_RECEIVE_LIMIT, 'U'),
     with(TEST_POLL_TRIES, 400ms),
     false,
     false,
     400ms,
     1s},
    // 100 ms a byte: the window's second of silence runs out mid-echo; a
    // budget for the slow rate hears it all.
    {"ASlowLineOutrunsTheWindowsBudget",
     {"--pace=100"},
     LoopbackVerdict::timeout,
     "",
     "",
     {},
     false,
     true,
     1s,
     3s},
    {"ASlowLineWithItsBudget", {"--pace=100"}, LoopbackVerdict::success, TEXT, TEXT,
     with(400, TEST_TIME_LIMIT), false, false, 1s},
};

void PrintTo(const Exchange& row, std::ostream* out) {
    *out << row.name;
}

class LoopbackExchange : public testing::TestWithParam<Exchange> {
  protected:
    static void SetUpTestSuite() { serial_init(); }
    TempFolder folder;
};

TEST_P(LoopbackExchange, GivesItsVerdictBytesAndTiming) {
    const Exchange& row = GetParam();
    SimulatedAdapter adapter(unique_device_link(folder.path()), row.simulator);
    ASSERT_TRUE(adapter.ready());
    const object_number port = loopback_open(OBJECT_ANY, adapter.link().c_str());
    ASSERT_NE(port, 0);
    const Clock::time_point start = Clock::now();
    const LoopbackResult result = loopback_exchange(port, nullptr, row.bounds);
    const Clock::duration took = Clock::now() - start;
    EXPECT_TRUE(serial_close(port));

    EXPECT_EQ(result.verdict, row.verdict);
    EXPECT_EQ(result.port_gone, row.port_gone);
    EXPECT_EQ(result.bytes_written == 15, row.verdict != LoopbackVerdict::not_able_to_transmit);
    if (!row.in_part) {
        EXPECT_EQ(result.received_bytes, row.received_bytes);
        EXPECT_EQ(result.received_text, row.received_text);
    } else {
        // What came before the end is a beginning of the echo.
        EXPECT_TRUE(TEXT.starts_with(result.received_text)) << result.received_text;
        EXPECT_LT(result.received_text.size(), TEXT.size());
    }
    EXPECT_EQ(result.first_byte.has_value(), !result.received_bytes.empty());
    if (result.first_byte) {
        EXPECT_LE(*result.first_byte, *result.last_byte);
    }
    EXPECT_GE(took, row.at_least);
    EXPECT_LE(took, row.at_most + 2s) << "with room for a loaded, sanitized build";
}

INSTANTIATE_TEST_SUITE_P(Rows, LoopbackExchange, testing::ValuesIn(EXCHANGES),
                         [](const testing::TestParamInfo<Exchange>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
