#include "tools/ecu/ecu_model.h"

#include <algorithm>
#include <cstdio>

namespace {

using std::chrono::milliseconds;

// The windows the ECU lets through, in its own clock. ISO's are narrower
// (W4 25-50 ms, TWuP 25 ms); USB adapters need the margin.
constexpr milliseconds MIN_IDLE{300};
constexpr milliseconds FIVE_BAUD_BIT{200};
constexpr milliseconds FIVE_BAUD_TOLERANCE{40};
// A low shorter than this is a fast init's, longer a 5-baud start bit's.
constexpr milliseconds FAST_INIT_LONGEST{100};
constexpr milliseconds LOW_MIN{22};
constexpr milliseconds LOW_MAX{30};
constexpr milliseconds WAKE_UP_MIN{20};
constexpr milliseconds WAKE_UP_MAX{100};
constexpr milliseconds W1{100};
constexpr milliseconds LATE_W1{310};
constexpr milliseconds W2_W3{10};
constexpr milliseconds W4_MIN{25};
constexpr milliseconds W4_MAX{100};
constexpr milliseconds INVERTED_ADDRESS_AFTER{30};
constexpr milliseconds P2{30};
constexpr milliseconds P3_MAX{5000};
// Between a request's bytes (ISO's P4 is up to 20 ms).
constexpr milliseconds REQUEST_GAP_MAX{50};
// ISO 9141-2 requests carry no length: one ends when the line stays quiet.
constexpr milliseconds ISO_REQUEST_END{20};
constexpr std::size_t ISO_REQUEST_LONGEST = 11;
constexpr milliseconds ANSWER_BYTE_GAP{2};
constexpr milliseconds KW1281_COMPLEMENT_MAX{100};
constexpr milliseconds KW1281_AFTER_COMPLEMENT{5};
constexpr milliseconds KW1281_COMPLEMENT_AFTER{2};
constexpr milliseconds KW1281_BLOCK_MAX{1000};
constexpr milliseconds KW1281_BLOCK_AFTER{30};
constexpr int MAX_SYNC_REPEATS = 3;
// KWP2000: the ECU's own address, which physical requests name.
constexpr unsigned char ECU_ADDRESS = 0x10;
constexpr unsigned char KW1281_END_TITLE = 0x06;
constexpr unsigned char KW1281_ACK_TITLE = 0x09;
constexpr unsigned char KW1281_NAK_TITLE = 0x0A;
constexpr unsigned char KW1281_BLOCK_END = 0x03;
const char* const IDENTIFICATION[] = {"ECU MODEL   ", "0000000001  "};

std::string hex(const std::string& bytes) {
    std::string text;
    for (unsigned char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", byte);
        text += pair;
    }
    return text;
}

std::string hex(unsigned char byte) {
    return hex(std::string(1, static_cast<char>(byte)));
}

long whole_ms(EcuClock::duration span) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(span).count());
}

unsigned char checksum(const std::string& bytes) {
    unsigned sum = 0;
    for (unsigned char byte : bytes) {
        sum += byte;
    }
    return static_cast<unsigned char>(sum);
}

// A KWP2000 frame's whole length once its header says it; none before.
std::optional<std::size_t> kwp_frame_length(const std::string& frame) {
    if (frame.empty()) {
        return std::nullopt;
    }
    const unsigned char format = static_cast<unsigned char>(frame[0]);
    std::size_t header = (format & 0xC0) != 0 ? 3 : 1;
    std::size_t length = format & 0x3F;
    if (length == 0) {
        if (frame.size() <= header) {
            return std::nullopt;
        }
        length = static_cast<unsigned char>(frame[header]);
        ++header;
    }
    return header + length + 1;
}

// Where a KWP2000 frame's data begins.
std::size_t kwp_header_length(const std::string& frame) {
    const unsigned char format = static_cast<unsigned char>(frame[0]);
    return ((format & 0xC0) != 0 ? 3 : 1) + ((format & 0x3F) == 0 ? 1 : 0);
}

} // namespace

std::optional<EcuKind> ecu_kind_named(const std::string& word) {
    if (word == "silent") {
        return EcuKind::silent;
    }
    if (word == "iso9141") {
        return EcuKind::iso9141;
    }
    if (word == "kwp-slow") {
        return EcuKind::kwp_slow;
    }
    if (word == "kwp-fast") {
        return EcuKind::kwp_fast;
    }
    if (word == "kw1281") {
        return EcuKind::kw1281;
    }
    return std::nullopt;
}

EcuClock::duration byte_time(long rate) {
    return std::chrono::duration_cast<EcuClock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / std::max(rate, 1L)));
}

unsigned char with_odd_parity(unsigned char seven_bits) {
    seven_bits &= 0x7F;
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit) {
        ones += (seven_bits >> bit) & 1;
    }
    return static_cast<unsigned char>(ones % 2 == 0 ? seven_bits | 0x80 : seven_bits);
}

EcuModel::EcuModel(EcuSettings settings, EcuTime start, EcuLogSink log)
    : settings_(settings), log_(std::move(log)), now_(start), last_activity_(start) {}

bool EcuModel::wakes_on_five_baud() const {
    return settings_.kind == EcuKind::iso9141 || settings_.kind == EcuKind::kwp_slow ||
           settings_.kind == EcuKind::kw1281 ||
           (settings_.kind == EcuKind::kwp_fast && settings_.faults.slow_init_only);
}

bool EcuModel::wakes_on_fast_init() const {
    return settings_.kind == EcuKind::kwp_fast && !settings_.faults.slow_init_only;
}

void EcuModel::say(EcuTime at, const std::string& text) {
    if (log_) {
        log_(at, text);
    }
}

void EcuModel::ignore(EcuTime at, const std::string& why) {
    say(at, "IGNORE " + why);
}

EcuTime EcuModel::send(const std::string& bytes, EcuTime at, EcuClock::duration gap) {
    EcuTime start = at;
    for (unsigned char byte : bytes) {
        sent_.push_back({byte, start});
        start += byte_time(settings_.rate) + gap;
    }
    const EcuTime end = start - gap;
    last_activity_ = std::max(last_activity_, end);
    return end;
}

std::vector<SentByte> EcuModel::take_sent() {
    std::vector<SentByte> taken;
    taken.swap(sent_);
    return taken;
}

std::optional<EcuTime> EcuModel::next_deadline() const {
    if (timer_ && session_deadline_) {
        return std::min(*timer_, *session_deadline_);
    }
    return timer_ ? timer_ : session_deadline_;
}

void EcuModel::line_low(EcuTime at) {
    if (line_low_) {
        return;
    }
    line_low_ = true;
    if (phase_ == Phase::five_baud) {
        edges_.push_back({at, false});
        return;
    }
    if (phase_ == Phase::kwp_session || phase_ == Phase::iso_session ||
        phase_ == Phase::kw1281_complement || phase_ == Phase::kw1281_block) {
        end_session("the line went low: a new wake-up");
    }
    idle_before_ = at - last_activity_;
    low_since_ = at;
    timer_.reset();
    phase_ = Phase::low;
}

void EcuModel::line_high(EcuTime at) {
    if (!line_low_) {
        return;
    }
    line_low_ = false;
    last_activity_ = std::max(last_activity_, at);
    if (phase_ == Phase::five_baud) {
        edges_.push_back({at, true});
    } else if (phase_ == Phase::low) {
        classify_low(at);
    }
}

// The first rise after a wake-up's fall: a short low is a fast init, a long
// one the start bit of a 5-baud address.
void EcuModel::classify_low(EcuTime at) {
    const EcuClock::duration low = at - low_since_;
    if (low >= FAST_INIT_LONGEST) {
        phase_ = Phase::five_baud;
        edges_ = {{low_since_, false}, {at, true}};
        timer_ = low_since_ + 10 * FIVE_BAUD_BIT + milliseconds(10);
        return;
    }
    phase_ = Phase::idle;
    say(at, "FASTINIT low " + std::to_string(whole_ms(low)) + " ms idle " +
                std::to_string(whole_ms(idle_before_)) + " ms");
    if (!wakes_on_fast_init()) {
        ignore(at, "fast init: this ECU does not wake on it");
    } else if (idle_before_ < MIN_IDLE) {
        ignore(at, "fast init after less than 300 ms of idle");
    } else if (low < LOW_MIN || low > LOW_MAX) {
        ignore(at, "fast init low outside 22-30 ms");
    } else {
        phase_ = Phase::fast_woken;
        wake_end_ = at;
        frame_.clear();
        timer_ = at + WAKE_UP_MAX;
    }
}

// The 5-baud byte is over: its bits read at their middles on the 200 ms grid
// from the start bit's fall, each edge's distance from that grid judged.
void EcuModel::end_five_baud() {
    const EcuTime start = edges_.front().first;
    auto level_at = [&](EcuTime at) {
        bool high = true;
        for (const auto& [when, rises] : edges_) {
            if (when <= at) {
                high = rises;
            }
        }
        return high;
    };
    long worst_ms = 0;
    for (const auto& edge : edges_) {
        const long offset = whole_ms(edge.first - start) % 200;
        worst_ms = std::max(worst_ms, std::min(offset, 200 - offset));
    }
    unsigned char value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (level_at(start + (bit + 1) * FIVE_BAUD_BIT + FIVE_BAUD_BIT / 2)) {
            value = static_cast<unsigned char>(value | (1u << bit));
        }
    }
    const EcuTime stop_end = start + 10 * FIVE_BAUD_BIT;
    phase_ = Phase::idle;
    timer_.reset();
    say(stop_end, "5BAUD " + hex(value) + " worst edge " + std::to_string(worst_ms) +
                      " ms idle " + std::to_string(whole_ms(idle_before_)) + " ms");
    if (line_low_ || !level_at(stop_end - FIVE_BAUD_BIT / 2)) {
        ignore(stop_end, "5-baud address without its stop bit");
    } else if (five_baud_acceptable(value, worst_ms)) {
        answer_five_baud(stop_end);
    }
}

bool EcuModel::five_baud_acceptable(unsigned char value, long worst_ms) {
    const unsigned char address = static_cast<unsigned char>(settings_.address & 0x7F);
    const bool ours = settings_.kind == EcuKind::kw1281
                          ? value == with_odd_parity(address)
                          : (value & 0x7F) == address &&
                                ((value & 0x80) == 0 || value == with_odd_parity(address));
    const EcuTime at = edges_.front().first + 10 * FIVE_BAUD_BIT;
    if (!wakes_on_five_baud()) {
        ignore(at, "5-baud address: this ECU does not wake on it");
    } else if (idle_before_ < MIN_IDLE) {
        ignore(at, "5-baud address after less than 300 ms of idle");
    } else if (worst_ms > FIVE_BAUD_TOLERANCE.count()) {
        ignore(at, "5-baud edge off its 200 ms grid by more than 40 ms");
    } else if (!ours) {
        ignore(at, "5-baud address " + hex(value) + " is not ours");
    } else {
        return true;
    }
    return false;
}

// 55 and the key bytes (KW1281: 55 01 8A), then the wait for their answer.
void EcuModel::answer_five_baud(EcuTime stop_end) {
    wake_end_ = stop_end;
    std::string key_bytes = "\x08\x08";
    if (settings_.kind == EcuKind::kw1281) {
        key_bytes = "\x01\x8A";
    } else if (settings_.kind != EcuKind::iso9141) {
        key_bytes = "\xEF\x8F";
    } else if (settings_.faults.kb1_differs) {
        key_bytes = "\x94\x08";
    }
    const EcuTime sync_at = stop_end + (settings_.faults.late_sync ? LATE_W1 : W1);
    kb2_end_ = send("\x55" + key_bytes, sync_at, W2_W3);
    phase_ = Phase::inverted_kb2;
    timer_ = kb2_end_ + W4_MAX;
}

void EcuModel::take_inverted_kb2(const HeardByte& byte) {
    const unsigned char kb2 = settings_.kind == EcuKind::kw1281 ? 0x8A
                              : settings_.kind == EcuKind::iso9141 ? 0x08
                                                                   : 0x8F;
    if (byte.start < kb2_end_ + W4_MIN) {
        miss_inverted_kb2("inverted key byte less than 25 ms after the key byte");
        return;
    }
    if (byte.value != static_cast<unsigned char>(~kb2)) {
        miss_inverted_kb2("inverted key byte " + hex(byte.value) + " where " +
                          hex(static_cast<unsigned char>(~kb2)) + " belongs");
        return;
    }
    timer_.reset();
    if (settings_.kind == EcuKind::kw1281) {
        begin_session(Phase::kw1281_block, "kw1281");
        counter_ = 0;
        identification_left_ = static_cast<int>(std::size(IDENTIFICATION));
        kw1281_send("", byte.end + KW1281_BLOCK_AFTER);
        return;
    }
    if (!settings_.faults.no_inverted_address) {
        send(std::string(1, static_cast<char>(~settings_.address)),
             byte.end + INVERTED_ADDRESS_AFTER, {});
    }
    const bool iso = settings_.kind == EcuKind::iso9141;
    begin_session(iso ? Phase::iso_session : Phase::kwp_session, iso ? "iso9141" : "kwp-slow");
    renew_session(byte.end, true);
}

// The tester's ~KB2 came too early, wrong or not at all: quiet, or the sync
// again as ISO 9141-2 lets an ECU do.
void EcuModel::miss_inverted_kb2(const std::string& why) {
    ignore(now_, why);
    timer_.reset();
    phase_ = Phase::idle;
    if (settings_.faults.repeat_sync && sync_repeats_ < MAX_SYNC_REPEATS) {
        ++sync_repeats_;
        say(now_, "REPEAT sync");
        answer_five_baud(now_ + W2_W3 - W1);
    }
}

void EcuModel::begin_session(Phase phase, const std::string& name) {
    phase_ = phase;
    frame_.clear();
    timer_.reset();
    sync_repeats_ = 0;
    say(now_, "SESSION " + name);
}

void EcuModel::end_session(const std::string& why) {
    say(now_, "END " + why);
    phase_ = Phase::idle;
    timer_.reset();
    session_deadline_.reset();
    frame_.clear();
}

void EcuModel::renew_session(EcuTime at, bool tester_present) {
    if (tester_present || !settings_.faults.drop_after_p3 || !session_deadline_) {
        session_deadline_ = at + P3_MAX;
    }
}

void EcuModel::hear(const HeardByte& byte) {
    now_ = std::max(now_, byte.end);
    last_activity_ = std::max(last_activity_, byte.end);
    std::string line = "RX " + hex(byte.value);
    if (byte.framing_error) {
        line += " framing error";
    }
    if (byte.value != byte.sent || byte.framing_error) {
        line += " (sent " + hex(byte.sent) + " at " + std::to_string(byte.sent_rate) + " baud)";
    }
    say(byte.end, line);
    if (byte.framing_error) {
        ignore(byte.end, "a byte with a framing error");
        frame_.clear();
        return;
    }
    switch (phase_) {
    case Phase::inverted_kb2:
        take_inverted_kb2(byte);
        break;
    case Phase::fast_woken:
        if (frame_.empty() && byte.start < wake_end_ + WAKE_UP_MIN) {
            ignore(byte.end, "StartCommunication less than 20 ms after the fast init's low");
            phase_ = Phase::idle;
            timer_.reset();
            break;
        }
        timer_ = byte.end + REQUEST_GAP_MAX;
        kwp_byte(byte);
        break;
    case Phase::kwp_session:
        kwp_byte(byte);
        break;
    case Phase::iso_session:
        if (frame_.size() > ISO_REQUEST_LONGEST ||
            (!frame_.empty() && byte.start - frame_end_ > REQUEST_GAP_MAX)) {
            frame_.clear();
        }
        frame_.push_back(static_cast<char>(byte.value));
        frame_end_ = byte.end;
        timer_ = byte.end + ISO_REQUEST_END;
        break;
    case Phase::kw1281_complement:
    case Phase::kw1281_block:
        kw1281_byte(byte);
        break;
    case Phase::idle:
    case Phase::low:
    case Phase::five_baud:
        ignore(byte.end, "a byte outside a session");
        break;
    }
}

void EcuModel::kwp_byte(const HeardByte& byte) {
    if (!frame_.empty() && byte.start - frame_end_ > REQUEST_GAP_MAX) {
        ignore(byte.end, "a request's bytes more than 50 ms apart");
        frame_.clear();
    }
    frame_.push_back(static_cast<char>(byte.value));
    frame_end_ = byte.end;
    const auto length = kwp_frame_length(frame_);
    if (length && frame_.size() >= *length) {
        const std::string request = frame_;
        frame_.clear();
        kwp_request(request);
    }
}

void EcuModel::kwp_request(const std::string& frame) {
    say(frame_end_, "REQUEST " + hex(frame));
    const unsigned char format = static_cast<unsigned char>(frame[0]);
    const std::size_t header = kwp_header_length(frame);
    const std::string data = frame.substr(header, frame.size() - header - 1);
    const unsigned char target = frame.size() > 1 ? static_cast<unsigned char>(frame[1]) : 0;
    const bool for_us = (format & 0xC0) == 0 ||
                        ((format & 0xC0) == 0xC0 && target == (settings_.address & 0xFF)) ||
                        ((format & 0xC0) == 0x80 && target == ECU_ADDRESS);
    if (checksum(frame.substr(0, frame.size() - 1)) != static_cast<unsigned char>(frame.back())) {
        ignore(frame_end_, "a request with a wrong checksum");
    } else if (!for_us || data.empty()) {
        ignore(frame_end_, "a request for another address");
    } else if (phase_ == Phase::fast_woken && data[0] != '\x81') {
        ignore(frame_end_, "a request before StartCommunication");
        phase_ = Phase::idle;
    } else {
        kwp_answer(frame, data);
    }
}

// The answer's data for a request in a session; StartCommunication begins it.
std::string EcuModel::kwp_answer_data(const std::string& data) {
    const unsigned char service = static_cast<unsigned char>(data[0]);
    if (service == 0x81 && settings_.faults.negative) {
        return std::string("\x7F\x81") + static_cast<char>(*settings_.faults.negative);
    }
    switch (service) {
    case 0x81:
        return "\xC1\xEF\x8F";
    case 0x3E:
        return "\x7E";
    case 0x82:
        return "\xC2";
    case 0x01:
        if (data == std::string("\x01\x00", 2)) {
            return std::string("\x41\x00\xBE\x3E\xB8\x11", 6);
        }
        break;
    default:
        break;
    }
    return std::string("\x7F") + static_cast<char>(service) + '\x11';
}

void EcuModel::kwp_answer(const std::string& frame, const std::string& data) {
    const std::string answer = kwp_answer_data(data);
    const unsigned char format = static_cast<unsigned char>(frame[0]);
    std::string out;
    if ((format & 0xC0) != 0) {
        out = {static_cast<char>(0x80 | answer.size()), frame[2], static_cast<char>(ECU_ADDRESS)};
    } else {
        out = {static_cast<char>(answer.size())};
    }
    out += answer;
    out.push_back(static_cast<char>(checksum(out) + (settings_.faults.bad_checksum ? 1 : 0)));
    const EcuTime end = send(out, frame_end_ + P2, ANSWER_BYTE_GAP);
    const bool refused = answer[0] == '\x7F' && data[0] == '\x81';
    if (phase_ == Phase::fast_woken && !refused) {
        begin_session(Phase::kwp_session, "kwp-fast");
    }
    if (refused) {
        end_session("StartCommunication refused");
    } else if (data[0] == '\x82') {
        end_session("StopCommunication");
    } else {
        renew_session(end, data[0] == '\x3E' || data[0] == '\x81');
    }
}

// ISO 9141-2: 68 6A F1, mode and PID, checksum; mode 01 PID 00 answered.
void EcuModel::iso_request() {
    const std::string frame = frame_;
    frame_.clear();
    timer_.reset();
    say(frame_end_, "REQUEST " + hex(frame));
    if (frame.size() < 5 || checksum(frame.substr(0, frame.size() - 1)) !=
                                static_cast<unsigned char>(frame.back())) {
        ignore(frame_end_, "a request with a wrong checksum");
        return;
    }
    if (frame.compare(0, 3, "\x68\x6A\xF1") != 0) {
        ignore(frame_end_, "a request with another header");
        return;
    }
    renew_session(frame_end_, true);
    if (frame.substr(3, frame.size() - 4) != std::string("\x01\x00", 2)) {
        ignore(frame_end_, "a request this ECU does not answer");
        return;
    }
    std::string out("\x48\x6B\x10\x41\x00\xBE\x3E\xB8\x11", 9);
    out.push_back(static_cast<char>(checksum(out) + (settings_.faults.bad_checksum ? 1 : 0)));
    renew_session(send(out, frame_end_ + P2, ANSWER_BYTE_GAP), true);
}

// KW1281: the next block (identification while any is left, else an ACK, or
// the NAK `title` asks for) goes out byte by byte from `at`.
void EcuModel::kw1281_send(std::string title_and_data, EcuTime at) {
    if (title_and_data.empty()) {
        title_and_data = identification_left_ > 0
                             ? "\xF6" + std::string(IDENTIFICATION[std::size(IDENTIFICATION) -
                                                                   identification_left_--])
                             : std::string(1, static_cast<char>(KW1281_ACK_TITLE));
    }
    ++counter_;
    out_block_ = std::string(1, static_cast<char>(title_and_data.size() + 2)) +
                 static_cast<char>(counter_) + title_and_data +
                 static_cast<char>(KW1281_BLOCK_END);
    out_index_ = 0;
    kw1281_next_byte(at);
}

void EcuModel::kw1281_next_byte(EcuTime at) {
    const EcuTime end = send(out_block_.substr(out_index_, 1), at, {});
    if (out_index_ + 1 == out_block_.size()) {
        phase_ = Phase::kw1281_block;
        in_block_.clear();
        timer_ = end + KW1281_BLOCK_MAX;
    } else {
        phase_ = Phase::kw1281_complement;
        timer_ = end + KW1281_COMPLEMENT_MAX;
    }
}

void EcuModel::kw1281_byte(const HeardByte& byte) {
    if (phase_ == Phase::kw1281_complement) {
        const unsigned char ours = static_cast<unsigned char>(out_block_[out_index_]);
        if (byte.value != static_cast<unsigned char>(~ours)) {
            end_session("complement " + hex(byte.value) + " of " + hex(ours) + " wrong");
            return;
        }
        ++out_index_;
        kw1281_next_byte(byte.end + KW1281_AFTER_COMPLEMENT);
        return;
    }
    in_block_.push_back(static_cast<char>(byte.value));
    timer_ = byte.end + KW1281_BLOCK_MAX;
    const std::size_t length = static_cast<unsigned char>(in_block_[0]);
    if (in_block_.size() < length + 1) {
        send(std::string(1, static_cast<char>(~byte.value)), byte.end + KW1281_COMPLEMENT_AFTER,
             {});
    } else {
        kw1281_block(byte.end);
    }
}

void EcuModel::kw1281_block(EcuTime end) {
    const std::string block = in_block_;
    in_block_.clear();
    say(end, "REQUEST " + hex(block));
    const unsigned char expected = static_cast<unsigned char>(counter_ + 1);
    if (block.size() < 4 || static_cast<unsigned char>(block.back()) != KW1281_BLOCK_END ||
        static_cast<unsigned char>(block[1]) != expected) {
        end_session("a block without counter " + hex(expected) + " or end byte 03");
        return;
    }
    counter_ = expected;
    const unsigned char title = static_cast<unsigned char>(block[2]);
    if (title == KW1281_END_TITLE) {
        end_session("end block");
    } else if (title == KW1281_ACK_TITLE) {
        kw1281_send("", end + KW1281_BLOCK_AFTER);
    } else {
        ignore(end, "block title " + hex(title) + " not answered: NAK");
        kw1281_send(std::string(1, static_cast<char>(KW1281_NAK_TITLE)), end + KW1281_BLOCK_AFTER);
    }
}

void EcuModel::advance(EcuTime now) {
    now_ = std::max(now_, now);
    if (session_deadline_ && *session_deadline_ <= now) {
        now_ = *session_deadline_;
        end_session(settings_.faults.drop_after_p3 ? "P3max: 5 s without TesterPresent"
                                                   : "P3max: 5 s without a request");
        now_ = std::max(now_, now);
    }
    if (!timer_ || *timer_ > now) {
        return;
    }
    const EcuTime due = *timer_;
    timer_.reset();
    now_ = due;
    switch (phase_) {
    case Phase::five_baud:
        end_five_baud();
        break;
    case Phase::inverted_kb2:
        miss_inverted_kb2("no inverted key byte within 25-100 ms of the key byte");
        break;
    case Phase::fast_woken:
        ignore(due, frame_.empty() ? "no StartCommunication within 100 ms of the fast init"
                                   : "StartCommunication incomplete");
        phase_ = Phase::idle;
        break;
    case Phase::iso_session:
        iso_request();
        break;
    case Phase::kw1281_complement:
        end_session("no complement within 100 ms");
        break;
    case Phase::kw1281_block:
        end_session("no block within 1 s");
        break;
    case Phase::idle:
    case Phase::low:
    case Phase::kwp_session:
        break;
    }
    now_ = std::max(now_, now);
}
