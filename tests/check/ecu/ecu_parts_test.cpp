// The parts of the ECU handshakes that can go wrong where a run against the
// ECU model does not show it: frames split or merged, a flipped bit, the
// bit plan of an address, the rule that a window narrower than the adapter
// can show is never a pass, and the rate a garbled sync byte names.
#include "check/ecu/five_baud_address.h"
#include "check/ecu/kwp_frames.h"
#include "check/ecu/step_timing.h"
#include "check/ecu/sync_rate.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const std::string START_ANSWER("\x83\xF1\x10\xC1\xEF\x8F\xC3", 7);

TEST(KwpFrames, EachHeaderFormSplitOrMergedAndEveryBitCounted) {
    struct Row {
        const char* name;
        std::string bytes;
        FrameState state;
        std::size_t size;
        int target;
        std::string data;
    };
    const Row rows[] = {
        {"the answer to StartCommunication", START_ANSWER, FrameState::complete, 7, 0xF1,
         "\xC1\xEF\x8F"},
        {"split after the header", START_ANSWER.substr(0, 3), FrameState::incomplete, 7, 0xF1, ""},
        {"split before the checksum", START_ANSWER.substr(0, 6), FrameState::incomplete, 7, 0xF1,
         ""},
        {"merged with the next frame", START_ANSWER + std::string("\x81\xF1\x10\xC2\x44", 5),
         FrameState::complete, 7, 0xF1, "\xC1\xEF\x8F"},
        {"a checksum bit flipped", START_ANSWER.substr(0, 6) + "\xC2", FrameState::bad_checksum, 7,
         0xF1, "\xC1\xEF\x8F"},
        {"a key-byte bit flipped", std::string("\x83\xF1\x10\xC1\xEE\x8F\xC3", 7),
         FrameState::bad_checksum, 7, 0xF1, "\xC1\xEE\x8F"},
        {"a length byte of its own", std::string("\x80\xF1\x10\x03\xC1\xEF\x8F\xC3", 8),
         FrameState::complete, 8, 0xF1, "\xC1\xEF\x8F"},
        {"no addresses", std::string("\x03\xC1\xEF\x8F\x42", 5), FrameState::complete, 5, -1,
         "\xC1\xEF\x8F"},
        {"a length byte of zero", std::string("\x80\xF1\x10\x00\x81", 5), FrameState::malformed, 0,
         0xF1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const KwpFrame frame = parse_kwp_frame(row.bytes);
        EXPECT_EQ(frame.state, row.state);
        EXPECT_EQ(frame.size, row.size);
        EXPECT_EQ(frame.target, row.target);
        EXPECT_EQ(frame.data, row.data);
    }
}

TEST(KwpFrames, RequestsAsTheStandardsWriteThem) {
    const std::string read("\x01\x00", 2);
    EXPECT_EQ(kwp_request(header_form(std::nullopt), 0x33, true, "\x81"), "\xC1\x33\xF1\x81\x66");
    EXPECT_EQ(kwp_request(header_form(std::nullopt), 0x10, false, "\x81"), "\x81\x10\xF1\x81\x03");
    EXPECT_EQ(kwp_request(header_form(0xEF), 0x33, true, read),
              std::string("\xC2\x33\xF1\x01\x00\xE7", 6));
    // KB1 with neither the address header nor the length in the format byte.
    EXPECT_EQ(kwp_request(header_form(0x86), 0x33, true, read),
              std::string("\x00\x02\x01\x00\x03", 5));
    EXPECT_EQ(refusal_text(*negative_answer("\x7F\x81\x12")),
              "7F 81 12: sub-function not supported");
}

TEST(FiveBaudAddress, StartLowLsbFirstStopHighOddParityForKw1281) {
    //                                      start  1     1     0     0     1     1     0     0 stop
    EXPECT_EQ(five_baud_plan(0x33),
              (FiveBaudPlan{true, false, false, true, true, false, false, true, true, false}));
    EXPECT_EQ(five_baud_plan(0x01),
              (FiveBaudPlan{true, false, true, true, true, true, true, true, true, false}));
    EXPECT_EQ(with_odd_parity(0x01), 0x01);
    EXPECT_EQ(with_odd_parity(0x33), 0xB3);
    EXPECT_EQ(with_odd_parity(0x00), 0x80);
}

TEST(StepTiming, AWindowNarrowerThanTheAdapterShowsIsNeverAPass) {
    struct Row {
        const char* name;
        StepWindow window;
        long long at_least_us, at_most_us, resolution_us;
        Readiness judged;
    };
    const Row rows[] = {
        {"inside W4", W4, 30000, 40000, 18000, Readiness::yes},
        {"straddling W4's start", W4, 20000, 30000, 0, Readiness::cannot_tell},
        {"wholly after W4", W4, 50100, 60000, 0, Readiness::no},
        {"wholly before W4", W4, 10000, 24900, 0, Readiness::no},
        {"inside TiniL, a pseudo-terminal", TINIL, 24500, 25500, 0, Readiness::yes},
        {"inside TiniL, behind a latency timer", TINIL, 24500, 25500, 3000, Readiness::cannot_tell},
        {"surely off TiniL, behind a latency timer", TINIL, 27000, 28000, 3000, Readiness::no},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(judge_span(microseconds(row.at_least_us), microseconds(row.at_most_us),
                             row.window, microseconds(row.resolution_us)),
                  row.judged)
            << row.name;
    }
    // Exact spans at each window's edges: the edges belong to the window.
    struct Edges {
        StepWindow window;
        int before, from, to, after;
    };
    for (const Edges& edges : {Edges{W1, 59, 60, 300, 301}, Edges{W4, 24, 25, 50, 51},
                               Edges{P2, 24, 25, 50, 51}, Edges{TINIL, 23, 24, 26, 27}}) {
        const auto judged = [&](int ms) {
            return judge_span(milliseconds(ms), milliseconds(ms), edges.window, {});
        };
        EXPECT_EQ(judged(edges.before), Readiness::no) << edges.window.name;
        EXPECT_EQ(judged(edges.from), Readiness::yes) << edges.window.name;
        EXPECT_EQ(judged(edges.to), Readiness::yes) << edges.window.name;
        EXPECT_EQ(judged(edges.after), Readiness::no) << edges.window.name;
    }
    const auto at = std::chrono::steady_clock::time_point(milliseconds(1000));
    const StepTiming w1 = step_timing(W1, {at, at + milliseconds(2)},
                                      {at + milliseconds(100), at + milliseconds(101)}, {});
    EXPECT_EQ(w1.at_least, milliseconds(98));
    EXPECT_EQ(w1.at_most, milliseconds(101));
}

TEST(SyncRate, AGarbledSyncByteNamesTheEcusRate) {
    struct Row {
        const char* name;
        unsigned char received;
        bool framing_error;
        int line_rate;
        std::optional<int> rate;
    };
    const UartRead cp210x = read_at_rate(0x55, 10400, 14400);
    const Row rows[] = {
        {"a 9600 ECU read at 10400", 0x95, true, 10400, 9600},
        {"the same without the framing error reported", 0x95, false, 10400, 9600},
        {"a 10400 ECU read at 14400", cp210x.value, cp210x.framing_error, 14400, 10400},
        {"a 1200 ECU read at 10400", 0x00, false, 10400, 1200},
        {"a byte no rate makes of 55", 0x5A, true, 10400, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(rate_from_sync(row.received, row.framing_error, row.line_rate), row.rate)
            << row.name;
    }
    EXPECT_TRUE(read_at_rate(0x55, 9600, 10400).framing_error);
    EXPECT_EQ(read_at_rate(0x08, 9600, 10400).value, 0x08);
}

} // namespace
