// adapter_simulator: stands in for a K-line adapter on a pseudo-terminal, so
// the tester can be tried and tested without hardware.
//
// usage: adapter_simulator [OPTION]... LINK
//
// Makes a pseudo-terminal, links its slave at LINK (for example
// /dev/ttyUSBsim0, which the tester's port chooser then offers), prints
//   adapter_simulator: ready at LINK (slave /dev/pts/N)
// on stdout and answers what the tester sends until SIGTERM, SIGINT or SIGHUP
// (exit status 0). The link is removed on every way out. LINK must not exist,
// unless it is a stale link of an earlier simulator (a link into /dev/pts
// whose terminal is gone): a real device is never replaced.
//
// Without options every byte received is sent back unchanged (echo).
//   --silent              read and drop every byte, send nothing
//   --change=N            echo, but the byte at position N of the echo (from 0)
//                         comes back with its lowest bit flipped, except 0x01,
//                         which comes back as 0x03 rather than zero; counted
//                         over the whole run, so only the first test sees it
//   --before=BYTE         echo, sending BYTE (0..255, decimal or 0x hex) once
//                         just before the first echoed byte
//   --trail=N             echo, and send N dots ('.') after each echoed burst;
//   --trail=forever       or keep sending dots without end after the first echo
//   --flood[=BYTE]        send BYTE (default 'U') without pause from the start,
//                         read and drop everything received
//   --short-write[=ROOM]  never read: the line towards the simulator is filled
//                         so that it takes only ROOM more bytes (0..14, default
//                         5) and a 15-byte write by the tester comes out short
//   --pace=RATE           echo as a wire at RATE baud would: each echoed byte
//                         goes out 10 bit times after the one before it, the
//                         first 10 bit times after it was received
//   --follow-line         echo paced at the rate the tester's line runs at
//                         the moment each byte arrives (read from the master,
//                         which sees the slave's settings), so a test at 360
//                         baud takes the time a wire would
//   --vanish-after-bytes=N  vanish once N bytes were received (after answering
//                         them as far as the line takes them)
//   --vanish-after-ms=T   vanish T milliseconds after the ready line
//   --return-after-ms=T   after vanishing, come back under the same link (a new
//                         pseudo-terminal) T milliseconds later, once
//   --wrong-every=N       echo, the first byte of every Nth exchange (15 bytes
//                         received, the tester's text) with its lowest bit
//                         flipped
//   --silence-every=N:T   echo, but the Nth exchange and every Nth after it
//                         start T milliseconds of silence: what arrives then
//                         is dropped
//   --help                print this text
// A car on the K-line (tools/ecu/), with no other mode:
//   --ecu=KIND            an ECU: iso9141, kwp-slow, kwp-fast, kw1281 or silent
//                         (ignition off); every byte is echoed paced at the
//                         tester's rate first, as on the single wire
//   --address=N           the address it wakes on (default 0x33; 0x01 kw1281)
//   --ecu-fault=FAULT     repeatable: late-sync, bad-checksum,
//                         no-inverted-address, slow-init-only, kb1-differs,
//                         repeat-sync, drop-after-p3, rate=N, negative=CODE,
//                         idle-check (always so)
//   --no-echo             no +12 V: nothing comes back, the ECU hears nothing
//   --held-low            a zero byte every frame time, no echo, the ECU hears
//                         nothing
//   --breaks-from=FIFO    the tester's break changes, lines "on MS" / "off MS"
//                         (the driver emulation's log); made if missing
//   --ecu-log=FILE        one line per thing the ECU saw and did
// Vanishing is a device unplugged: the pseudo-terminal closes, the link goes,
// the program ends with status 0. --change, --before, --trail=N and --pace
// (or --follow-line) combine.
#include "serial/line_rate.h"
#include "tools/ecu/ecu_bus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// One exchange of the tester: its 15-byte text.
constexpr unsigned long EXCHANGE_BYTES = 15;

const char usage_text[] =
    "usage: adapter_simulator [OPTION]... LINK\n"
    "Links a pseudo-terminal at LINK that behaves like a K-line adapter.\n"
    "Without options every byte received is sent back (echo).\n"
    "  --silent               read and drop every byte, send nothing\n"
    "  --change=N             echo, byte N of the echo (from 0) with its lowest bit\n"
    "                         flipped, but 0x01 as 0x03 rather than 0x00; positions\n"
    "                         count over the whole run, so only the first test sees it\n"
    "  --before=BYTE          echo, sending BYTE (0..255) once before the first echo\n"
    "  --trail=N|forever      echo, then N dots after each echoed burst, or dots\n"
    "                         without end after the first echo\n"
    "  --flood[=BYTE]         send BYTE (default 'U') without pause from the start\n"
    "  --short-write[=ROOM]   never read; leave room for only ROOM (0..14, default 5)\n"
    "                         more bytes, so a 15-byte write comes out short\n"
    "  --pace=RATE            echo paced as at RATE baud (8N1): one byte per 10 bit times\n"
    "  --follow-line          echo paced at the rate the line runs at when each byte arrives\n"
    "  --vanish-after-bytes=N vanish once N bytes were received\n"
    "  --vanish-after-ms=T    vanish T milliseconds after the ready line\n"
    "  --return-after-ms=T    after vanishing, come back under the same link T ms later\n"
    "  --wrong-every=N        echo, the first byte of every Nth 15-byte exchange changed\n"
    "  --silence-every=N:T    echo, but every Nth exchange starts T ms of silence\n"
    "  --ecu=KIND             an ECU on the K-line: iso9141, kwp-slow, kwp-fast,\n"
    "                         kw1281 or silent; the echo paced at the tester's rate\n"
    "  --address=N            the address it wakes on (default 0x33, kw1281 0x01)\n"
    "  --ecu-fault=FAULT      late-sync, bad-checksum, no-inverted-address,\n"
    "                         slow-init-only, kb1-differs, repeat-sync, drop-after-p3,\n"
    "                         rate=N, negative=CODE, idle-check; repeatable\n"
    "  --no-echo              no +12 V: no echo, the ECU hears nothing\n"
    "  --held-low             the bus held low: zero bytes, no echo\n"
    "  --breaks-from=FIFO     the tester's break changes (\"on MS\", \"off MS\")\n"
    "  --ecu-log=FILE         one line per thing the ECU saw and did\n"
    "  --help                 print this text\n"
    "Prints \"adapter_simulator: ready at LINK (slave PATH)\" once the link exists;\n"
    "ends with status 0 on SIGTERM, SIGINT, SIGHUP or after vanishing, removing LINK.\n";

enum class Mode { echo, silent, flood, short_write };

struct Options {
    Mode mode = Mode::echo;
    std::optional<unsigned long> change_at;
    std::optional<unsigned char> before;
    unsigned long trail = 0;
    bool trail_forever = false;
    unsigned char flood_byte = 'U';
    int room = 5;
    std::optional<unsigned long> vanish_after_bytes;
    std::optional<long> vanish_after_ms;
    std::optional<unsigned long> pace;
    bool follow_line = false;
    std::optional<long> return_after_ms;
    std::optional<unsigned long> wrong_every;
    std::optional<unsigned long> silence_every;
    long silence_ms = 0;
    // A car's K-line: an ECU and the adapter's faults (tools/ecu/).
    EcuBusOptions bus;
    std::string link;

    bool paced() const { return pace || follow_line; }
};

void fail(const std::string& message) {
    std::fprintf(stderr, "adapter_simulator: %s\n", message.c_str());
}

std::optional<unsigned long> parse_number(const std::string& text, unsigned long limit) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > limit) {
        return std::nullopt;
    }
    return value;
}

// Fills options from the command line; false (after saying why) on a mistake.
bool parse_options(int argc, char** argv, Options& options, bool& help) {
    bool mode_given = false;
    auto set_mode = [&](Mode mode) {
        if (mode_given) {
            fail("--silent, --flood and --short-write exclude each other");
            return false;
        }
        mode_given = true;
        options.mode = mode;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto eq = argument.find('=');
        std::string name = argument.substr(0, eq);
        std::optional<std::string> value;
        if (eq != std::string::npos) {
            value = argument.substr(eq + 1);
        }
        auto number = [&](unsigned long limit) -> std::optional<unsigned long> {
            auto parsed = value ? parse_number(*value, limit) : std::nullopt;
            if (!parsed) {
                fail("bad value in " + argument);
            }
            return parsed;
        };
        if (name == "--help" && !value) {
            help = true;
            return true;
        } else if (name == "--silent" && !value) {
            if (!set_mode(Mode::silent)) {
                return false;
            }
        } else if (name == "--change") {
            if (!(options.change_at = number(~0UL))) {
                return false;
            }
        } else if (name == "--before") {
            auto byte = number(255);
            if (!byte) {
                return false;
            }
            options.before = static_cast<unsigned char>(*byte);
        } else if (name == "--trail") {
            if (value && *value == "forever") {
                options.trail_forever = true;
            } else if (auto count = number(~0UL)) {
                options.trail = *count;
            } else {
                return false;
            }
        } else if (name == "--flood") {
            if (value) {
                auto byte = number(255);
                if (!byte) {
                    return false;
                }
                options.flood_byte = static_cast<unsigned char>(*byte);
            }
            if (!set_mode(Mode::flood)) {
                return false;
            }
        } else if (name == "--short-write") {
            if (value) {
                auto room = number(14);
                if (!room) {
                    return false;
                }
                options.room = static_cast<int>(*room);
            }
            if (!set_mode(Mode::short_write)) {
                return false;
            }
        } else if (name == "--pace") {
            auto rate = number(4000000);
            if (!rate || *rate == 0) {
                fail("bad value in " + argument);
                return false;
            }
            options.pace = *rate;
        } else if (name == "--return-after-ms") {
            auto ms = number(24UL * 3600 * 1000);
            if (!ms) {
                return false;
            }
            options.return_after_ms = static_cast<long>(*ms);
        } else if (name == "--wrong-every") {
            auto every = number(~0UL);
            if (!every || *every == 0) {
                fail("bad value in " + argument);
                return false;
            }
            options.wrong_every = *every;
        } else if (name == "--silence-every") {
            const std::string value = argument.substr(argument.find('=') + 1);
            const auto colon = value.find(':');
            auto every = colon == std::string::npos ? std::nullopt
                                                    : parse_number(value.substr(0, colon), ~0UL);
            auto ms = colon == std::string::npos
                          ? std::nullopt
                          : parse_number(value.substr(colon + 1), 24UL * 3600 * 1000);
            if (!every || *every == 0 || !ms) {
                fail("bad value in " + argument + ": give N:T");
                return false;
            }
            options.silence_every = *every;
            options.silence_ms = static_cast<long>(*ms);
        } else if (argument == "--follow-line") {
            options.follow_line = true;
        } else if (name == "--vanish-after-bytes") {
            if (!(options.vanish_after_bytes = number(~0UL))) {
                return false;
            }
        } else if (name == "--vanish-after-ms") {
            auto ms = number(24UL * 3600 * 1000);
            if (!ms) {
                return false;
            }
            options.vanish_after_ms = static_cast<long>(*ms);
        } else if (auto bus = parse_bus_option(argument, options.bus)) {
            if (!*bus) {
                return false;
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            fail("unknown option " + argument);
            return false;
        } else if (options.link.empty()) {
            options.link = argument;
        } else {
            fail("more than one LINK");
            return false;
        }
    }
    if (options.link.empty()) {
        fail("no LINK given");
        return false;
    }
    bool echo_options = options.change_at || options.before || options.trail > 0 ||
                        options.trail_forever || options.paced() || options.wrong_every ||
                        options.silence_every;
    if (options.paced() && options.trail_forever) {
        fail("--pace and --follow-line go with --trail=N only");
        return false;
    }
    if (options.pace && options.follow_line) {
        fail("--pace or --follow-line, not both");
        return false;
    }
    if (echo_options && options.mode != Mode::echo) {
        fail("--change, --before and --trail go with echo only");
        return false;
    }
    if (options.bus.given() && (echo_options || options.mode != Mode::echo ||
                                options.vanish_after_bytes || options.vanish_after_ms)) {
        fail("--ecu, --no-echo and --held-low go with no other mode");
        return false;
    }
    return finish_bus_options(options.bus);
}

class Descriptor {
  public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }
    void reset() {
        if (descriptor_ >= 0) {
            close(descriptor_);
        }
        descriptor_ = -1;
    }

  private:
    int descriptor_;
};

// The link at the user's path, removed when this goes out of scope, but only
// while it still leads to our slave: a path somebody replaced is left alone.
class DeviceLink {
  public:
    DeviceLink(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {}
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool create() {
        if (symlink(target_.c_str(), path_.c_str()) == 0) {
            made_ = true;
            return true;
        }
        if (errno != EEXIST || !is_stale_simulator_link()) {
            fail(path_ + ": " +
                 (errno == EEXIST ? "exists and is not a stale simulator link"
                                  : std::strerror(errno)));
            return false;
        }
        if (unlink(path_.c_str()) != 0 || symlink(target_.c_str(), path_.c_str()) != 0) {
            fail(path_ + ": " + std::strerror(errno));
            return false;
        }
        made_ = true;
        return true;
    }

    void remove() {
        if (made_ && current_target() == target_) {
            unlink(path_.c_str());
        }
        made_ = false;
    }

  private:
    std::string current_target() const {
        char target[4096];
        ssize_t length = readlink(path_.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
            return {};
        }
        return std::string(target, static_cast<std::size_t>(length));
    }

    // A simulator killed without a chance to clean up leaves a link into
    // /dev/pts whose terminal has gone; such a link may be replaced.
    bool is_stale_simulator_link() const {
        struct stat status {};
        if (lstat(path_.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return false;
        }
        std::string target = current_target();
        return target.rfind("/dev/pts/", 0) == 0 && access(target.c_str(), F_OK) != 0;
    }

    std::string path_;
    std::string target_;
    bool made_ = false;
};

// Non-blocking writes of single bytes until the line takes no more, repeated
// until a pause brings no further room (the kernel moves queued bytes along
// in the background). Returns how many bytes were taken.
long fill_line(int slave) {
    long total = 0;
    for (;;) {
        long round = 0;
        const char byte = 0;
        while (write(slave, &byte, 1) == 1) {
            ++round;
        }
        if (errno != EAGAIN) {
            return -1;
        }
        total += round;
        if (round == 0) {
            return total;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Reads count bytes that the simulator queued towards itself back from the
// master; false if they are not there.
bool drain(int master, long count) {
    char buffer[512];
    while (count > 0) {
        ssize_t got = read(master, buffer, std::min<std::size_t>(sizeof buffer, count));
        if (got <= 0) {
            return false;
        }
        count -= got;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

bool write_bytes(int slave, long count) {
    const char byte = 0;
    for (long i = 0; i < count; ++i) {
        if (write(slave, &byte, 1) != 1) {
            return false;
        }
    }
    return true;
}

// Leaves the slave-to-master line with room for exactly `room` bytes. The line
// is the master's 4095-byte input buffer plus a queue of kernel buffers; room
// appears only when a whole queued buffer has been taken in, so the simulator
// fills with single bytes (equal buffers), learns how much room reading one
// buffer's worth frees, and then refills all but `room` bytes of such a
// freeing. One 15-byte test write checks the calibration before the last
// round; the whole procedure is repeated if the check fails.
bool calibrate_short_write(int master, int slave, int room) {
    constexpr long step = 512;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (fill_line(slave) < 0) {
            return false;
        }
        long freed = 0;
        for (int i = 0; i < 16 && freed <= room; ++i) {
            if (!drain(master, step) || (freed = fill_line(slave)) < 0) {
                return false;
            }
        }
        if (freed <= room) {
            continue;
        }
        if (!drain(master, step) || !write_bytes(slave, freed - room)) {
            continue;
        }
        const char probe[15] = {};
        ssize_t taken = write(slave, probe, sizeof probe);
        if (taken != (room == 0 ? -1 : room)) {
            continue;
        }
        if (!drain(master, step) || !write_bytes(slave, freed - room)) {
            continue;
        }
        return true;
    }
    return false;
}

class Simulator {
  public:
    Simulator(const Options& options, int master, int signals)
        : options_(options), master_(master), signals_(signals) {}

    // Whether run ended because the device vanished.
    bool vanished() const { return vanished_; }

    // Runs until a signal (true) or vanishing (true) or a failure (false).
    bool run() {
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (options_.vanish_after_bytes && received_ >= *options_.vanish_after_bytes) {
                flush();
                vanished_ = true;
                return true;
            }
            int timeout = -1;
            std::optional<std::chrono::steady_clock::duration> paced_wait;
            if (options_.vanish_after_ms) {
                auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
                if (passed >= *options_.vanish_after_ms) {
                    vanished_ = true;
                    return true;
                }
                timeout = static_cast<int>(*options_.vanish_after_ms - passed);
            }
            top_up();
            pollfd watch[2] = {{signals_, POLLIN, 0}, {master_, 0, 0}};
            if (options_.mode != Mode::short_write) {
                watch[1].events = POLLIN;
            }
            // A master is not always woken when room appears on the line (a
            // tester that only polls FIONREAD never unthrottles it), so
            // pending output is also retried every millisecond.
            if (!pending_.empty() && !options_.paced()) {
                watch[1].events |= POLLOUT;
                timeout = timeout < 0 ? 1 : std::min(timeout, 1);
            }
            // Paced bytes wait for their moment, to the microsecond.
            timespec span{};
            timespec* wait = nullptr;
            if (timeout >= 0) {
                span = {timeout / 1000, (timeout % 1000) * 1000000L};
                wait = &span;
            }
            if (!dues_.empty()) {
                auto until = std::max(std::chrono::steady_clock::duration::zero(),
                                      dues_.front() - std::chrono::steady_clock::now());
                if (wait == nullptr || until < std::chrono::milliseconds(timeout)) {
                    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(until);
                    span = {static_cast<time_t>(seconds.count()),
                            static_cast<long>((until - seconds) / std::chrono::nanoseconds(1))};
                    wait = &span;
                }
            }
            if (ppoll(watch, 2, wait, nullptr) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail(std::string("poll: ") + std::strerror(errno));
                return false;
            }
            if (watch[0].revents & POLLIN) {
                return true;
            }
            if ((watch[1].revents & POLLIN) && !receive()) {
                return false;
            }
            if (!pending_.empty() && !flush()) {
                return false;
            }
        }
    }

  private:
    bool receive() {
        char buffer[256];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return true;
            }
            fail(std::string("read: ") + std::strerror(errno));
            return false;
        }
        std::size_t count = static_cast<std::size_t>(got);
        if (options_.vanish_after_bytes) {
            count = std::min<std::size_t>(count, *options_.vanish_after_bytes - received_);
        }
        received_ += count;
        if (options_.mode != Mode::echo || count == 0) {
            return true;
        }
        if (options_.before && echoed_ == 0) {
            pending_.push_back(static_cast<char>(*options_.before));
        }
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            // Which byte of which exchange (from 1) this is, counted over the run.
            const unsigned long position = received_ - count + i;
            const unsigned long exchange = position / EXCHANGE_BYTES + 1;
            const bool starts_exchange = position % EXCHANGE_BYTES == 0;
            if (starts_exchange && options_.silence_every &&
                exchange % *options_.silence_every == 0) {
                silent_until_ = now + std::chrono::milliseconds(options_.silence_ms);
            }
            if (now < silent_until_) {
                continue;
            }
            char byte = buffer[i];
            if (starts_exchange && options_.wrong_every && exchange % *options_.wrong_every == 0) {
                byte = static_cast<char>(byte ^ 0x01);
            }
            if (options_.change_at && *options_.change_at == echoed_) {
                byte = byte == 0x01 ? 0x03 : static_cast<char>(byte ^ 0x01);
            }
            ++echoed_;
            pending_.push_back(byte);
        }
        pending_.append(options_.trail, '.');
        if (options_.paced()) {
            // One byte per 10 bit times (start, 8 data bits, stop), as the
            // echo of a real bus comes back while the bytes go out.
            const long long rate =
                options_.pace ? static_cast<long long>(*options_.pace) : line_rate_now();
            const auto byte_time = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::nanoseconds(10'000'000'000LL / std::max(rate, 1LL)));
            auto now = std::chrono::steady_clock::now();
            while (dues_.size() < pending_.size()) {
                auto after = dues_.empty() ? now : std::max(now, dues_.back());
                dues_.push_back(after + byte_time);
            }
        }
        trailing_ = options_.trail_forever;
        return flush();
    }

    // The rate the tester's line runs at now: the master reads the slave's
    // settings, a rate of its own (10400) included.
    long long line_rate_now() const { return line_rate(master_).value_or(9600); }

    // Endless senders always have output waiting, so they never fall silent.
    void top_up() {
        if (options_.mode != Mode::flood && !trailing_) {
            return;
        }
        char filler = options_.mode == Mode::flood ? static_cast<char>(options_.flood_byte) : '.';
        if (pending_.size() < 4096) {
            pending_.append(4096 - pending_.size(), filler);
        }
    }

    // Sends what is pending (and due, when paced) as far as the line takes it.
    bool flush() {
        top_up();
        while (!pending_.empty()) {
            std::size_t due = pending_.size();
            if (options_.paced()) {
                auto now = std::chrono::steady_clock::now();
                due = 0;
                while (due < dues_.size() && dues_[due] <= now) {
                    ++due;
                }
                if (due == 0) {
                    return true;
                }
            }
            ssize_t sent = write(master_, pending_.data(), due);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    return true;
                }
                fail(std::string("write: ") + std::strerror(errno));
                return false;
            }
            pending_.erase(0, static_cast<std::size_t>(sent));
            if (options_.paced()) {
                dues_.erase(dues_.begin(), dues_.begin() + sent);
            }
        }
        return true;
    }

    const Options& options_;
    int master_;
    int signals_;
    std::string pending_;
    // When paced: the moment each pending byte is due, in step with pending_.
    std::deque<std::chrono::steady_clock::time_point> dues_;
    unsigned long received_ = 0;
    unsigned long echoed_ = 0;
    bool trailing_ = false;
    bool vanished_ = false;
    // --silence-every: input is dropped unanswered until then.
    std::chrono::steady_clock::time_point silent_until_;
};

enum class Appearance { stopped, vanished, failed };

Appearance appear(const Options& options, int signals);

int simulate(const Options& options) {
    // Signals arrive through a descriptor, so the link is removed by the
    // ordinary way out whatever ends the program.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &stop_signals, nullptr) != 0) {
        fail(std::string("sigprocmask: ") + std::strerror(errno));
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    Descriptor signals(signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (signals.get() < 0) {
        fail(std::string("signalfd: ") + std::strerror(errno));
        return 1;
    }
    Options once = options;
    for (;;) {
        const Appearance ended = appear(once, signals.get());
        if (ended != Appearance::vanished || !options.return_after_ms) {
            return ended == Appearance::failed ? 1 : 0;
        }
        // Unplugged, then plugged in again under the same link: a signal
        // meanwhile ends the program as ever.
        pollfd watch{signals.get(), POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(*options.return_after_ms)) != 0) {
            return 0;
        }
        once.vanish_after_bytes.reset();
        once.vanish_after_ms.reset();
    }
}

// One life of the device: the pseudo-terminal and its link, until a signal,
// vanishing or a failure.
Appearance appear(const Options& options, int signals) {
    Descriptor master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (master.get() < 0 || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
        fail(std::string("pseudo-terminal: ") + std::strerror(errno));
        return Appearance::failed;
    }
    char slave_path[128];
    if (ptsname_r(master.get(), slave_path, sizeof slave_path) != 0) {
        fail(std::string("ptsname: ") + std::strerror(errno));
        return Appearance::failed;
    }
    // Our own slave descriptor keeps the master from reading EIO whenever the
    // tester closes its end; raw, so nothing is echoed or translated before
    // the tester sets its own line settings.
    Descriptor slave(open(slave_path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios raw{};
    if (slave.get() < 0 || tcgetattr(slave.get(), &raw) != 0) {
        fail(std::string(slave_path) + ": " + std::strerror(errno));
        return Appearance::failed;
    }
    cfmakeraw(&raw);
    if (tcsetattr(slave.get(), TCSANOW, &raw) != 0) {
        fail(std::string(slave_path) + ": " + std::strerror(errno));
        return Appearance::failed;
    }
    if (options.mode == Mode::short_write &&
        !calibrate_short_write(master.get(), slave.get(), options.room)) {
        fail("could not calibrate the short write");
        return Appearance::failed;
    }
    // The break changes' FIFO and the ECU's log exist before the ready line,
    // so a tester started on it finds them.
    std::optional<EcuBus> bus;
    if (options.bus.given() && !bus.emplace(options.bus).open()) {
        return Appearance::failed;
    }
    DeviceLink link(options.link, slave_path);
    if (!link.create()) {
        return Appearance::failed;
    }
    std::printf("adapter_simulator: ready at %s (slave %s)\n", options.link.c_str(), slave_path);
    std::fflush(stdout);
    Simulator simulator(options, master.get(), signals);
    bool ended_well = bus ? bus->run(master.get(), signals) : simulator.run();
    // Our own slave end goes before the device end: held for a moment without
    // its master, it looks like another program that has the line open to a
    // tester that opened the port just before. Then the device goes, then its
    // name, as when a cable is pulled.
    slave.reset();
    master.reset();
    link.remove();
    return !ended_well ? Appearance::failed
           : simulator.vanished() ? Appearance::vanished
                                  : Appearance::stopped;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parse_options(argc, argv, options, help)) {
        std::fputs(usage_text, stderr);
        return 2;
    }
    if (help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    return simulate(options);
}
