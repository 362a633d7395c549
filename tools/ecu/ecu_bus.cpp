#include "tools/ecu/ecu_bus.h"

#include "serial/line_rate.h"
#include "tools/ecu/uart_sampling.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// A zero byte below this rate holds the line low long enough to be a wake-up.
constexpr long LOW_PHASE_RATE = 1200;
// A break line longer than this is not the emulation's: dropped.
constexpr std::size_t BREAK_LINE_LONGEST = 64;

void fail(const std::string& message) {
    std::fprintf(stderr, "adapter_simulator: %s\n", message.c_str());
}

std::optional<unsigned long> number(const std::string& text, unsigned long limit) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > limit) {
        return std::nullopt;
    }
    return value;
}

// One --ecu-fault word into the faults (and the rate); false when unknown.
bool take_fault(const std::string& word, EcuSettings& ecu) {
    EcuFaults& faults = ecu.faults;
    const std::pair<const char*, bool*> flags[] = {
        {"late-sync", &faults.late_sync},
        {"bad-checksum", &faults.bad_checksum},
        {"no-inverted-address", &faults.no_inverted_address},
        {"slow-init-only", &faults.slow_init_only},
        {"kb1-differs", &faults.kb1_differs},
        {"repeat-sync", &faults.repeat_sync},
        {"drop-after-p3", &faults.drop_after_p3},
    };
    for (const auto& [name, flag] : flags) {
        if (word == name) {
            *flag = true;
            return true;
        }
    }
    // Always so: an ECU ignores a wake-up after less than 300 ms of idle.
    if (word == "idle-check") {
        return true;
    }
    const auto equals = word.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    const std::string name = word.substr(0, equals);
    const unsigned long value = number(word.substr(equals + 1), 4000000).value_or(0);
    if (name == "rate" && value > 0) {
        ecu.rate = static_cast<long>(value);
        return true;
    }
    if (name == "negative" && value > 0 && value <= 255) {
        faults.negative = static_cast<unsigned char>(value);
        return true;
    }
    return false;
}

} // namespace

std::optional<bool> parse_bus_option(const std::string& argument, EcuBusOptions& options) {
    const auto equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : argument.substr(equals + 1);
    const bool has_value = equals != std::string::npos && !value.empty();
    auto wrong = [&] {
        fail("bad value in " + argument);
        return false;
    };
    if (argument == "--no-echo" || argument == "--held-low") {
        (argument == "--no-echo" ? options.no_echo : options.held_low) = true;
    } else if (name == "--ecu") {
        const auto kind = ecu_kind_named(value);
        if (!kind || options.asked_kind) {
            return wrong();
        }
        options.asked_kind = true;
        options.asked.kind = *kind;
    } else if (name == "--address") {
        const auto address = number(value, 255);
        if (!address) {
            return wrong();
        }
        options.asked_address = true;
        options.asked.address = static_cast<int>(*address);
    } else if (name == "--ecu-fault") {
        if (!take_fault(value, options.asked)) {
            return wrong();
        }
        options.asked_faults = true;
    } else if ((name == "--breaks-from" || name == "--ecu-log") && has_value) {
        (name == "--breaks-from" ? options.breaks_from : options.log_path) = value;
    } else {
        return std::nullopt;
    }
    return true;
}

bool finish_bus_options(EcuBusOptions& options) {
    if (!options.asked_kind) {
        if (options.asked_address || options.asked_faults) {
            fail("--address and --ecu-fault go with --ecu");
            return false;
        }
        return true;
    }
    if (!options.asked_address) {
        options.asked.address = options.asked.kind == EcuKind::kw1281 ? 0x01 : 0x33;
    }
    options.ecu = options.asked;
    return true;
}

EcuBus::EcuBus(const EcuBusOptions& options) : options_(options) {
    const EcuTime now = EcuClock::now();
    tester_wire_free_ = now;
    next_zero_ = now;
    if (options_.ecu) {
        model_.emplace(*options_.ecu, now,
                       [this](EcuTime at, const std::string& text) { log_line(at, text); });
    }
}

EcuBus::~EcuBus() {
    if (breaks_ >= 0) {
        close(breaks_);
    }
    if (made_fifo_) {
        unlink(options_.breaks_from.c_str());
    }
    if (log_ >= 0) {
        close(log_);
    }
}

// Opened for reading and writing, the FIFO never blocks the emulation's open
// and never reads end-of-file when a tester closes its end.
bool EcuBus::open() {
    if (!options_.breaks_from.empty()) {
        const char* path = options_.breaks_from.c_str();
        struct stat status {};
        if (mkfifo(path, 0600) == 0) {
            made_fifo_ = true;
        } else if (errno != EEXIST || stat(path, &status) != 0 || !S_ISFIFO(status.st_mode)) {
            fail(options_.breaks_from + ": not a FIFO: " + std::strerror(errno));
            return false;
        }
        breaks_ = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (breaks_ < 0) {
            fail(options_.breaks_from + ": " + std::strerror(errno));
            return false;
        }
    }
    if (!options_.log_path.empty()) {
        log_ = ::open(options_.log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log_ < 0) {
            fail(options_.log_path + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

// One line a write, so a test reading the log meanwhile never sees half of one.
void EcuBus::log_line(EcuTime at, const std::string& text) {
    if (log_ < 0) {
        return;
    }
    const long long ms =
        std::chrono::duration_cast<milliseconds>(at.time_since_epoch()).count();
    const std::string line = std::to_string(ms) + " " + text + "\n";
    [[maybe_unused]] const ssize_t written = write(log_, line.data(), line.size());
}

bool EcuBus::ecu_hears() const {
    return model_ && !options_.no_echo && !options_.held_low;
}

void EcuBus::schedule(const Outgoing& byte) {
    auto after = std::upper_bound(outgoing_.begin(), outgoing_.end(), byte.due,
                                  [](EcuTime due, const Outgoing& other) { return due < other.due; });
    outgoing_.insert(after, byte);
}

// The ECU's bytes go back once whole on the wire at its rate.
void EcuBus::take_ecu_bytes() {
    for (const SentByte& byte : model_->take_sent()) {
        schedule({byte.start + byte_time(model_->rate()), byte.value, true});
    }
}

// The ECU learns of the wire's changes in their order, its own deadlines
// coming between them where they fall.
void EcuBus::deliver_due(EcuTime now) {
    if (!model_) {
        return;
    }
    while (!arriving_.empty() && arriving_.front().due <= now) {
        const Arriving next = arriving_.front();
        arriving_.pop_front();
        model_->advance(next.due);
        if (next.what == Arriving::What::low) {
            model_->line_low(next.due);
        } else if (next.what == Arriving::What::high) {
            model_->line_high(next.due);
        } else {
            model_->hear(next.byte);
        }
    }
    model_->advance(now);
    take_ecu_bytes();
}

void EcuBus::take_break_line(const std::string& line) {
    const auto space = line.find(' ');
    const std::string word = line.substr(0, space);
    if (space == std::string::npos || (word != "on" && word != "off")) {
        return; // "flush" and anything else: no change of the line
    }
    const auto ms = number(line.substr(space + 1), ~0UL);
    if (!ms || !ecu_hears()) {
        return;
    }
    const EcuTime at{milliseconds(*ms)};
    deliver_due(EcuClock::now());
    model_->advance(at);
    if (word == "on") {
        model_->line_low(at);
    } else {
        model_->line_high(at);
    }
    take_ecu_bytes();
}

void EcuBus::read_breaks() {
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(breaks_, buffer, sizeof buffer)) > 0) {
        break_text_.append(buffer, static_cast<std::size_t>(got));
        std::size_t newline = 0;
        while ((newline = break_text_.find('\n')) != std::string::npos) {
            take_break_line(break_text_.substr(0, newline));
            break_text_.erase(0, newline + 1);
        }
        if (break_text_.size() > BREAK_LINE_LONGEST) {
            break_text_.clear();
        }
    }
}

// A byte leaves the tester when the wire is free, comes back whole as the
// echo, and reaches the ECU as its UART reads it; a zero byte at a low rate
// holds the line low for its start and eight data bits, a wake-up.
void EcuBus::tester_byte(unsigned char value, long rate, EcuTime now) {
    const EcuTime start = std::max(now, tester_wire_free_);
    const EcuClock::duration length = byte_time(rate);
    const EcuTime end = start + length;
    tester_wire_free_ = end;
    if (!options_.no_echo && !options_.held_low) {
        schedule({end, value, false});
    }
    if (!ecu_hears()) {
        return;
    }
    if (value == 0 && rate < LOW_PHASE_RATE) {
        arriving_.push_back({start, Arriving::What::low, {}});
        arriving_.push_back({start + length * 9 / 10, Arriving::What::high, {}});
        return;
    }
    const UartByte read = uart_sample(value, rate, model_->rate());
    arriving_.push_back(
        {end, Arriving::What::byte, {read.value, read.framing_error, start, end, value, rate}});
}

bool EcuBus::read_tester(int master) {
    unsigned char buffer[256];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return true;
        }
        fail(std::string("read: ") + std::strerror(errno));
        return false;
    }
    // The master sees the slave's settings: the rate the tester set last.
    const long rate = line_rate(master).value_or(9600);
    const EcuTime now = EcuClock::now();
    for (ssize_t i = 0; i < got; ++i) {
        tester_byte(buffer[i], rate, now);
    }
    return true;
}

// What is due goes out in order; the ECU's bytes as the tester's UART, at the
// rate its line runs now, reads them.
bool EcuBus::write_due(int master, EcuTime now) {
    blocked_ = false;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        const Outgoing next = outgoing_.front();
        unsigned char value = next.value;
        UartByte read{value, false};
        const long rate = line_rate(master).value_or(9600);
        if (next.from_ecu) {
            read = uart_sample(value, model_->rate(), rate);
            value = read.value;
        }
        const ssize_t sent = write(master, &value, 1);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            blocked_ = true;
            return true;
        }
        if (sent < 0) {
            fail(std::string("write: ") + std::strerror(errno));
            return false;
        }
        outgoing_.pop_front();
        if (next.from_ecu) {
            char text[80];
            std::snprintf(text, sizeof text, "TX %02X", next.value);
            std::string line = text;
            if (value != next.value || read.framing_error) {
                std::snprintf(text, sizeof text, " read as %02X%s at %ld baud", value,
                              read.framing_error ? " framing error" : "", rate);
                line += text;
            }
            log_line(next.due, line);
        }
    }
    return true;
}

// A line held low: the tester's UART reads a zero byte every frame time.
void EcuBus::hold_low(int master, EcuTime now) {
    if (!options_.held_low || now < next_zero_) {
        return;
    }
    const unsigned char zero = 0;
    [[maybe_unused]] const ssize_t sent = write(master, &zero, 1);
    next_zero_ = now + byte_time(line_rate(master).value_or(9600));
}

std::optional<EcuTime> EcuBus::next_wake() const {
    std::optional<EcuTime> wake;
    auto sooner = [&](EcuTime at) { wake = wake ? std::min(*wake, at) : at; };
    if (!outgoing_.empty()) {
        sooner(outgoing_.front().due);
    }
    if (!arriving_.empty()) {
        sooner(arriving_.front().due);
    }
    if (model_) {
        if (auto deadline = model_->next_deadline()) {
            sooner(*deadline);
        }
    }
    if (options_.held_low) {
        sooner(next_zero_);
    }
    if (blocked_) {
        sooner(EcuClock::now() + milliseconds(1));
    }
    return wake;
}

bool EcuBus::run(int master, int signals) {
    for (;;) {
        const EcuTime now = EcuClock::now();
        deliver_due(now);
        if (!write_due(master, now)) {
            return false;
        }
        hold_low(master, now);
        timespec span{};
        timespec* wait = nullptr;
        if (const auto wake = next_wake()) {
            const auto until = std::max(EcuClock::duration::zero(), *wake - EcuClock::now());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(until);
            span = {static_cast<time_t>(seconds.count()),
                    static_cast<long>((until - seconds) / std::chrono::nanoseconds(1))};
            wait = &span;
        }
        pollfd watch[3] = {{signals, POLLIN, 0}, {master, POLLIN, 0}, {breaks_, POLLIN, 0}};
        if (ppoll(watch, breaks_ >= 0 ? 3 : 2, wait, nullptr) < 0 && errno != EINTR) {
            fail(std::string("poll: ") + std::strerror(errno));
            return false;
        }
        if (watch[0].revents & POLLIN) {
            return true;
        }
        // The break changes first: the emulation logs each before the tester
        // goes on to write.
        if (breaks_ >= 0 && (watch[2].revents & POLLIN)) {
            read_breaks();
        }
        if ((watch[1].revents & POLLIN) && !read_tester(master)) {
            return false;
        }
    }
}
