// An ECU on the simulated K-line: how it wakes (the 5-baud address of
// ISO 9141-2, KWP2000 slow init and KW1281; KWP2000 fast init), which timing
// it accepts, what it answers, and when it ends a session. It judges the
// tester as a car's ECU would, with the windows a real one lets through, so a
// tester whose timing is wrong stays unanswered.
//
// The model does no input or output and reads no clock: the line's changes,
// the bytes it hears and the time come in as arguments, and the bytes it
// sends go out with the moment each starts on the wire.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using EcuClock = std::chrono::steady_clock;
using EcuTime = EcuClock::time_point;

enum class EcuKind { silent, iso9141, kwp_slow, kwp_fast, kw1281 };

// The kind a word names ("silent", "iso9141", "kwp-slow", "kwp-fast",
// "kw1281"); none for any other word.
std::optional<EcuKind> ecu_kind_named(const std::string& word);

struct EcuFaults {
    bool late_sync = false;           // the sync byte after W1's end (310 ms)
    bool bad_checksum = false;        // every answer's checksum one off
    bool no_inverted_address = false; // the session begins without ~address
    bool slow_init_only = false;      // a KWP2000 ECU that ignores fast init
    bool kb1_differs = false;         // ISO 9141-2 key bytes 94 08
    bool repeat_sync = false;         // a late ~KB2 brings the sync again
    bool drop_after_p3 = false;       // only TesterPresent keeps the session
    std::optional<unsigned char> negative; // StartCommunication refused
};

struct EcuSettings {
    EcuKind kind = EcuKind::silent;
    // The address it wakes on (5-baud) or answers functionally (KWP2000).
    int address = 0x33;
    // The rate it talks and listens at.
    long rate = 10400;
    EcuFaults faults;
};

// A byte the ECU's UART took from the line, with the tester's byte it came
// from (different when the tester ran another rate).
struct HeardByte {
    unsigned char value = 0;
    bool framing_error = false;
    EcuTime start;
    EcuTime end;
    unsigned char sent = 0;
    long sent_rate = 0;
};

// A byte the ECU puts on the line, and the moment its start bit begins.
struct SentByte {
    unsigned char value = 0;
    EcuTime start;
};

// Where the model says what it saw and did: a line's text without its time.
using EcuLogSink = std::function<void(EcuTime, const std::string&)>;

// One byte's time on the wire at a rate (10 bits, 8N1).
EcuClock::duration byte_time(long rate);

// The byte with its top bit set so that it has an odd number of ones.
unsigned char with_odd_parity(unsigned char seven_bits);

class EcuModel {
  public:
    // `start` counts as the end of the bus's last traffic.
    EcuModel(EcuSettings settings, EcuTime start, EcuLogSink log);

    // The line pulled low by the tester (a break, a 5-baud bit, the fast
    // init's low phase) and let go again, at those moments.
    void line_low(EcuTime at);
    void line_high(EcuTime at);
    // A byte received whole at byte.end.
    void hear(const HeardByte& byte);
    // Runs what is due by `now`: the 5-baud byte's end, windows that close,
    // the session's end.
    void advance(EcuTime now);
    // When advance next has something to do; none while only input can.
    std::optional<EcuTime> next_deadline() const;
    // The bytes scheduled since the last call, in the order they go out.
    std::vector<SentByte> take_sent();

    long rate() const { return settings_.rate; }

  private:
    enum class Phase {
        idle,          // waiting for a wake-up
        low,           // the line went low: fast init or a 5-baud start bit
        five_baud,     // taking the 5-baud address's edges
        inverted_kb2,  // waiting for the tester's ~KB2 (KW1281: ~8A)
        fast_woken,    // fast init's low was right: StartCommunication next
        kwp_session,   // KWP2000 frames
        iso_session,   // ISO 9141-2 frames
        kw1281_complement, // our byte went out, its complement comes back
        kw1281_block,  // waiting for the tester's block
    };

    bool wakes_on_five_baud() const;
    bool wakes_on_fast_init() const;
    void classify_low(EcuTime at);
    void end_five_baud();
    bool five_baud_acceptable(unsigned char value, long worst_ms);
    void answer_five_baud(EcuTime stop_end);
    void take_inverted_kb2(const HeardByte& byte);
    void miss_inverted_kb2(const std::string& why);
    void begin_session(Phase phase, const std::string& name);
    void end_session(const std::string& why);
    void kwp_byte(const HeardByte& byte);
    void kwp_request(const std::string& frame);
    void kwp_answer(const std::string& frame, const std::string& data);
    std::string kwp_answer_data(const std::string& data);
    void iso_request();
    void kw1281_send(std::string block, EcuTime at);
    void kw1281_next_byte(EcuTime at);
    void kw1281_byte(const HeardByte& byte);
    void kw1281_block(EcuTime end);
    void renew_session(EcuTime at, bool tester_present);
    // Schedules bytes from `at`, each `gap` after the one before ends; the
    // end of the last.
    EcuTime send(const std::string& bytes, EcuTime at, EcuClock::duration gap);
    void ignore(EcuTime at, const std::string& why);
    void say(EcuTime at, const std::string& text);

    EcuSettings settings_;
    EcuLogSink log_;
    Phase phase_ = Phase::idle;
    EcuTime now_;
    // The end of the last traffic or low phase on the bus: idle counts from it.
    EcuTime last_activity_;
    bool line_low_ = false;
    EcuTime low_since_;
    EcuClock::duration idle_before_{};
    std::vector<std::pair<EcuTime, bool>> edges_; // 5-baud: time, line high
    std::optional<EcuTime> timer_;
    std::optional<EcuTime> session_deadline_;
    EcuTime wake_end_;   // the 5-baud stop bit's or the fast init low's end
    EcuTime kb2_end_;
    int sync_repeats_ = 0;
    std::string frame_;
    EcuTime frame_end_;
    // KW1281: the block going out and the next byte's place in it, the block
    // coming in, the block counter, identification blocks still to send.
    std::string out_block_;
    std::size_t out_index_ = 0;
    std::string in_block_;
    unsigned char counter_ = 0;
    int identification_left_ = 0;
    std::vector<SentByte> sent_;
};
