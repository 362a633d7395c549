#include "check/kline_readiness.h"

#include "serial/line_rate.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The lowest rate of the FT232 family: its 3 MHz clock over the largest
// divisor, 16384. Below it the driver programs another rate and still
// reports the one asked.
constexpr int FTDI_LOWEST_RATE = 183;
// After the line changes, what comes back is read this long.
constexpr milliseconds LISTEN{200};

std::string one_decimal(Span span) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f",
                  std::chrono::duration<double, std::milli>(span).count());
    return text;
}

bool is_pseudo_terminal(int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return true;
    }
    return !has_sysfs_device(status.st_rdev);
}

// The driver's break counter; none where the driver keeps none.
std::optional<int> break_count(int descriptor) {
    serial_icounter_struct counters{};
    if (ioctl(descriptor, TIOCGICOUNT, &counters) != 0) {
        return std::nullopt;
    }
    return counters.brk;
}

// What the line brings within the span, at most 64 bytes.
std::string listen(int descriptor, Span span) {
    std::string received;
    const Clock::time_point until = Clock::now() + span;
    while (received.size() < 64) {
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd watch{descriptor, POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(left.count()) + 1) <= 0) {
            break;
        }
        char bytes[64];
        const ssize_t got = read(descriptor, bytes, sizeof bytes - received.size());
        if (got <= 0) {
            break;
        }
        received.append(bytes, static_cast<std::size_t>(got));
    }
    return received;
}

void sleep_until(Clock::time_point moment) {
    std::this_thread::sleep_until(moment);
}

BreakCheck check_break(int descriptor) {
    BreakCheck check;
    const std::optional<SavedLine> line = save_line(descriptor);
    // A break then reads as FF 00 00 where the driver reports line status.
    change_input_flags(descriptor, PARMRK, IGNBRK | BRKINT | IGNPAR | ISTRIP);
    tcflush(descriptor, TCIFLUSH);
    const std::optional<int> breaks_before = break_count(descriptor);
    const Clock::time_point start = Clock::now();
    if (ioctl(descriptor, TIOCSBRK) != 0) {
        check.error = errno;
    } else {
        sleep_until(start + FAST_INIT_LOW);
        if (ioctl(descriptor, TIOCCBRK) != 0) {
            check.error = errno;
        }
    }
    check.raise_and_clear = Clock::now() - start;
    check.accepted = check.error == 0;
    if (!check.accepted) {
        ioctl(descriptor, TIOCCBRK);
    }
    check.received = listen(descriptor, LISTEN);
    if (const std::optional<int> breaks_after = break_count(descriptor);
        breaks_before && breaks_after) {
        check.counted_breaks = *breaks_after - *breaks_before;
    }
    check.line_went_low = check.received.find(std::string("\xff\0\0", 3)) != std::string::npos ||
                          check.received.find('\0') != std::string::npos ||
                          check.counted_breaks.value_or(0) > 0;
    if (line) {
        restore_line(descriptor, *line);
    }
    return check;
}

ZeroByteCheck check_zero_byte(int descriptor, int asked_rate, std::optional<int> latency_ms) {
    ZeroByteCheck check;
    check.expected = std::chrono::nanoseconds(10LL * 1'000'000'000 / FALLBACK_INIT_RATE);
    const bool set = set_line_rate(descriptor, FALLBACK_INIT_RATE);
    check.rate =
        check_rate(FALLBACK_INIT_RATE, set ? line_rate(descriptor) : std::nullopt, std::nullopt);
    if (set) {
        tcflush(descriptor, TCIFLUSH);
        const char zero = 0;
        const Clock::time_point written = Clock::now();
        check.written = write(descriptor, &zero, 1) == 1;
        if (check.written) {
            const Span wait = check.expected + milliseconds(latency_ms.value_or(0)) + LISTEN;
            pollfd watch{descriptor, POLLIN, 0};
            const auto wait_ms = std::chrono::ceil<milliseconds>(wait).count();
            if (poll(&watch, 1, static_cast<int>(wait_ms)) == 1) {
                check.echo_time = Clock::now() - written;
                char byte = 0;
                if (read(descriptor, &byte, 1) == 1) {
                    check.received.push_back(byte);
                }
            }
        }
        // Whatever else the slow byte brought is no concern of the next check.
        tcdrain(descriptor);
        tcflush(descriptor, TCIFLUSH);
    }
    set_line_rate(descriptor, asked_rate);
    return check;
}

// Ten 200 ms slots: a start slot low, eight data slots alternating from
// high, and the stop slot kept low. An ECU on the line only answers an
// address whose stop bit is high, so no ECU can take this frame for its own.
SlowInitCheck check_slow_init(int descriptor) {
    constexpr bool low[SLOW_INIT_SLOTS] = {true,  false, true,  false, true,
                                           false, true,  false, true,  true};
    SlowInitCheck check;
    check.accepted = true;
    const Clock::time_point start = Clock::now() + milliseconds(5);
    bool line_low = false;
    for (int slot = 0; slot <= SLOW_INIT_SLOTS && check.accepted; ++slot) {
        const bool want_low = slot < SLOW_INIT_SLOTS && low[slot];
        if (want_low == line_low) {
            continue;
        }
        const Clock::time_point edge = start + slot * SLOW_INIT_BIT;
        sleep_until(edge);
        if (ioctl(descriptor, want_low ? TIOCSBRK : TIOCCBRK) != 0) {
            check.accepted = false;
            check.error = errno;
            break;
        }
        const Span error = Clock::now() - edge;
        check.edge_errors.push_back(error);
        check.worst = std::max(check.worst, error);
        line_low = want_low;
    }
    ioctl(descriptor, TIOCCBRK);
    return check;
}

} // namespace

ReadinessLine rate_summary(const RateCheck& rate, bool echo_succeeded) {
    const std::string asked = std::to_string(rate.asked);
    ReadinessLine line;
    line.item = asked + " baud";
    const std::string other_adapter =
        "this driver cannot run " + asked +
        " baud: use an adapter whose chip and driver can (FTDI chips are known to)";
    if (rate.chip_lowest_rate && rate.asked < *rate.chip_lowest_rate) {
        line.answer = Readiness::no;
        line.reason = "the " + rate.chip + " chip runs no slower than " +
                      std::to_string(*rate.chip_lowest_rate) + " baud: its driver's read-back of " +
                      asked + " cannot be trusted";
        line.fix = "choose a rate of " + std::to_string(*rate.chip_lowest_rate) + " baud or more";
    } else if (!rate.read_back) {
        line.reason = "the driver does not say which rate the line runs at";
        line.fix = "try the adapter with a K-line tool";
    } else if (!rate.within_tolerance) {
        line.answer = Readiness::no;
        line.reason = "the line runs at " + std::to_string(*rate.read_back) + " baud, not the " +
                      asked + " asked: the echo comes back, but an ECU will not understand it";
        line.fix = other_adapter;
    } else if (!echo_succeeded) {
        line.answer = Readiness::no;
        line.reason = "the line runs at " + std::to_string(*rate.read_back) +
                      " baud, but the echo did not come back";
        line.fix = "check +12 V, ground and the 3-pole cable, then test again";
    } else {
        line.answer = Readiness::yes;
        line.reason = "the line runs at " + std::to_string(*rate.read_back) +
                      " baud and the echo came back";
    }
    return line;
}

namespace {

void refused_break(ReadinessLine& line, int error, const std::string& init, std::string fix) {
    line.answer = Readiness::no;
    line.reason = std::string("the driver refused the break (") + std::strerror(error) +
                  "): " + init + " will fail";
    line.fix = std::move(fix);
}

ReadinessLine break_line(const KlineReadiness& readiness) {
    const BreakCheck& check = readiness.fast_break;
    ReadinessLine line;
    line.item = "fast init by break";
    const std::string took = "the driver took " + one_decimal(check.raise_and_clear) +
                             " ms to raise and clear a 25 ms break";
    const std::string use_fallback =
        "use a tool that falls back to fast init by 360 baud, or an adapter whose driver sends "
        "breaks (FTDI chips are known to)";
    if (!check.accepted) {
        refused_break(line, check.error, "fast init by break", use_fallback);
    } else if (check.raise_and_clear > FAST_INIT_LOW + FAST_INIT_SLACK) {
        line.answer = Readiness::no;
        line.reason = took + ": fast init by break will fail";
        line.fix = use_fallback;
    } else if (check.line_went_low) {
        line.answer = Readiness::yes;
        line.reason = took + ", and the line went low";
    } else if (readiness.pseudo_terminal) {
        line.reason = "a pseudo-terminal carries no break (" + took + ")";
        line.fix = "test the adapter itself";
    } else {
        line.answer = Readiness::no;
        line.reason = took + ", but nothing came back to show the line going low";
        line.fix = "check +12 V, ground and the 3-pole cable; " + use_fallback;
    }
    return line;
}

ReadinessLine zero_byte_line(const KlineReadiness& readiness) {
    const ZeroByteCheck& check = readiness.zero_byte;
    ReadinessLine line;
    line.item = "fast init by 360 baud";
    const std::string use_break = "use fast init by break, or an adapter that runs 360 baud";
    if (!check.rate.read_back) {
        line.answer = Readiness::no;
        line.reason = "the driver does not accept 360 baud";
        line.fix = use_break;
    } else if (!check.rate.within_tolerance) {
        line.answer = Readiness::no;
        line.reason = "asked for 360 baud, the line runs at " +
                      std::to_string(*check.rate.read_back) + " baud";
        line.fix = use_break;
    } else if (!check.written) {
        line.answer = Readiness::no;
        line.reason = "the zero byte could not be written at 360 baud";
        line.fix = use_break;
    } else if (!check.echo_time || check.received != std::string(1, '\0')) {
        line.answer = Readiness::no;
        line.reason = "the zero byte sent at 360 baud did not come back as a zero byte";
        line.fix = "check +12 V, ground and the 3-pole cable; " + use_break;
    } else {
        line.answer = Readiness::yes;
        line.reason = "the line runs at 360 baud and the zero byte came back after " +
                      one_decimal(*check.echo_time) + " ms (the wire needs " +
                      one_decimal(check.expected) + " ms)";
    }
    return line;
}

ReadinessLine slow_init_line(const KlineReadiness& readiness) {
    const SlowInitCheck& check = readiness.slow_init;
    ReadinessLine line;
    line.item = "slow init (5 baud)";
    const std::string strayed = "bit edges strayed up to " + one_decimal(check.worst) +
                                " ms from their 200 ms slots";
    const std::string other_adapter =
        "use an adapter whose driver switches the break at once (FTDI chips are known to)";
    if (!check.accepted) {
        refused_break(line, check.error, "slow init", other_adapter);
    } else if (readiness.pseudo_terminal) {
        line.reason = "a pseudo-terminal carries no break (" + strayed + ")";
        line.fix = "test the adapter itself";
    } else if (check.worst > SLOW_INIT_STRAY) {
        line.answer = Readiness::no;
        line.reason = strayed + ": slow init will fail";
        line.fix = other_adapter;
    } else {
        line.answer = Readiness::yes;
        line.reason = strayed;
    }
    return line;
}

} // namespace

RateCheck check_rate(int asked, std::optional<int> read_back,
                     const std::optional<UsbIdentity>& usb) {
    RateCheck check;
    check.asked = asked;
    check.read_back = read_back;
    check.within_tolerance =
        read_back && std::abs(*read_back - asked) <= RATE_TOLERANCE * static_cast<double>(asked);
    if (usb && usb->vendor_id == "0403") {
        check.chip = "FTDI";
        check.chip_lowest_rate = FTDI_LOWEST_RATE;
    }
    return check;
}

void check_kline(const OpenPort& port, KlineReadiness& readiness) {
    const int descriptor = port.descriptor();
    readiness.pseudo_terminal = is_pseudo_terminal(descriptor);
    readiness.fast_break = check_break(descriptor);
    readiness.zero_byte =
        check_zero_byte(descriptor, readiness.rate.asked, readiness.latency_timer_ms);
    readiness.slow_init = check_slow_init(descriptor);
    readiness.summary = readiness_summary(readiness);
}

std::vector<ReadinessLine> readiness_summary(const KlineReadiness& readiness) {
    return {rate_summary(readiness.rate, readiness.echo_succeeded), break_line(readiness),
            zero_byte_line(readiness), slow_init_line(readiness)};
}

bool readiness_fails(const KlineReadiness& readiness) {
    for (const ReadinessLine& line : readiness.summary) {
        if (line.answer == Readiness::no) {
            return true;
        }
    }
    return false;
}

const char* readiness_word(Readiness answer) {
    switch (answer) {
    case Readiness::yes:
        return "yes";
    case Readiness::no:
        return "no";
    case Readiness::cannot_tell:
        break;
    }
    return "cannot tell";
}
