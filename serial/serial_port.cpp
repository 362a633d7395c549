#include "serial/serial_port.h"

#include "base/deadline.h"
#include "base/owners.h"
#include "serial/line_settings.h"
#include "serial/port_opening.h"
#include "serial/text_utf8.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The descriptor is the first field: a record whose descriptor is 0 is closed.
// The line as it was before the open goes back when the port closes.
struct SerialRecord {
    std::int32_t descriptor;
    bool has_saved;
    SavedLine saved;
};

struct ReleasedPort {
    int descriptor;
    std::optional<SavedLine> saved;
};

ReleasedPort released(const SerialRecord& record) {
    return {record.descriptor,
            record.has_saved ? std::optional<SavedLine>(record.saved) : std::nullopt};
}

// Set once by serial_init before any other thread exists; never destroyed.
ObjectTable* serial_table = nullptr;

// The caller holds the table (registry_hold) until it is done with the
// descriptor, so that no close can come between finding and using it.
SerialRecord* find_port_locked(object_number number) {
    return static_cast<SerialRecord*>(registry_lookup(serial_table, number));
}

// Closes a port whose record is already gone, outside the table's lock: unsent
// output discarded (a USB serial port's close otherwise waits for it to drain,
// up to 30 s on a stuck adapter), the line put back, the hold given up.
bool close_released_port(const ReleasedPort& port) {
    return port_close(port.descriptor, port.saved);
}

// Each 8-bit character as a 16-bit unit, low byte first.
std::string wide_form(const char* text) {
    std::string units;
    for (const char* at = text; *at != '\0'; ++at) {
        units.push_back(*at);
        units.push_back('\0');
    }
    return units;
}

} // namespace

void serial_init() {
    // The table's release runs where no one waits for an answer.
    registry_create_once(&serial_table, sizeof(SerialRecord), 16,
                         [](object_number number) { (void)serial_close(number); });
}

object_number serial_open(object_number number, const char* path, int baud_rate, int parity,
                          int data_bits, float stop_bits, int handshake, int, int) {
    if (path == nullptr || serial_table == nullptr || (number < 0 && number != OBJECT_ANY)) {
        return 0;
    }
    auto settings = serial_line_settings(baud_rate, parity, data_bits, stop_bits, handshake);
    if (!settings) {
        return 0;
    }
    // The path's bytes go to the system as they are, so a name that a listing
    // gave opens exactly that entry whatever its encoding.
    PortRequest request;
    request.path = path;
    request.line = settings;
    PortOpening opening = port_open(request);
    if (!opening.port) {
        return 0;
    }
    return serial_adopt(number, std::move(opening.port));
}

object_number serial_adopt(object_number number, OpenPort port) {
    if (!port || serial_table == nullptr || (number < 0 && number != OBJECT_ANY)) {
        return 0;
    }
    std::optional<ReleasedPort> replaced;
    object_number result = 0;
    {
        auto hold = registry_hold(serial_table);
        // An explicit number in use gives its port up now that the new one is
        // open; the old descriptor is closed once the hold is dropped.
        if (SerialRecord* old = number == OBJECT_ANY ? nullptr : find_port_locked(number)) {
            replaced = released(*old);
            registry_release(serial_table, number);
        }
        auto* record = static_cast<SerialRecord*>(registry_allocate(serial_table, number));
        if (record != nullptr) {
            record->has_saved = port.saved().has_value();
            record->saved = port.saved().value_or(SavedLine{});
            record->descriptor = port.release();
            result = number == OBJECT_ANY ? registry_number_of(serial_table, record)
                                          : record->descriptor;
        }
    }
    if (replaced) {
        // The number now names the new port, whose opening set its own line;
        // the replaced one's line concerns no one who could be told.
        (void)close_released_port(*replaced);
    }
    // A port the table could not take closes here, as it came.
    return result;
}

int serial_write(object_number number, const char* text, int format) {
    if (text == nullptr || serial_table == nullptr) {
        return 0;
    }
    std::string converted;
    const char* bytes = text;
    std::size_t length = 0;
    if (format == TEXT_FORMAT_UTF8 || format == TEXT_FORMAT_WIDE) {
        converted = format == TEXT_FORMAT_UTF8 ? text_to_utf8(text) : wide_form(text);
        bytes = converted.data();
        length = converted.size();
    } else {
        length = std::strlen(text);
    }
    if (length == 0) {
        return 0;
    }
    // The count must fit the result; a longer text is simply a partial write.
    if (length > INT_MAX) {
        length = INT_MAX;
    }
    auto hold = registry_hold(serial_table);
    SerialRecord* port = find_port_locked(number);
    if (port == nullptr) {
        return 0;
    }
    ssize_t written = write(port->descriptor, bytes, length);
    return written < 0 ? 0 : static_cast<int>(written);
}

int serial_write_string(object_number number, const char* text) {
    return serial_write(number, text, TEXT_FORMAT_PLAIN);
}

int serial_input_available(object_number number) {
    if (serial_table == nullptr) {
        return 0;
    }
    auto hold = registry_hold(serial_table);
    SerialRecord* port = find_port_locked(number);
    int count = 0;
    if (port == nullptr || ioctl(port->descriptor, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return count;
}

int serial_wait_input(object_number number, int timeout_ms) {
    if (serial_table == nullptr) {
        return 0;
    }
    const Deadline until = Deadline::after(std::chrono::milliseconds(timeout_ms));
    int waiting = 0;
    {
        auto hold = registry_hold(serial_table);
        SerialRecord* port = find_port_locked(number);
        if (port == nullptr) {
            return 0;
        }
        pollfd watch{port->descriptor, POLLIN, 0};
        if (poll_until({&watch, 1}, until) != WaitEnd::ready || (watch.revents & POLLIN) == 0 ||
            ioctl(port->descriptor, FIONREAD, &waiting) != 0 || waiting < 0) {
            waiting = 0;
        }
    }
    // An error or a hang-up ends the wait at once without input; the rest of
    // the timeout is slept away, without holding the table.
    if (waiting == 0) {
        std::this_thread::sleep_until(until.at());
    }
    return waiting;
}

bool serial_port_gone(object_number number) {
    if (serial_table == nullptr) {
        return false;
    }
    auto hold = registry_hold(serial_table);
    SerialRecord* port = find_port_locked(number);
    if (port == nullptr) {
        return false;
    }
    pollfd watch{port->descriptor, POLLIN, 0};
    if (poll(&watch, 1, 0) == 1 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return true;
    }
    int waiting = 0;
    return ioctl(port->descriptor, FIONREAD, &waiting) != 0 && errno == EIO;
}

int serial_read(object_number number, void* buffer, int length) {
    if (serial_table == nullptr || buffer == nullptr || length <= 0) {
        return 0;
    }
    auto hold = registry_hold(serial_table);
    SerialRecord* port = find_port_locked(number);
    if (port == nullptr) {
        return 0;
    }
    ssize_t got = read(port->descriptor, buffer, static_cast<std::size_t>(length));
    return got < 0 ? 0 : static_cast<int>(got);
}

bool serial_close(object_number number) {
    if (serial_table == nullptr) {
        return true;
    }
    if (number == -1) {
        serial_close_all();
        return true;
    }
    ReleasedPort closing{};
    {
        auto hold = registry_hold(serial_table);
        SerialRecord* port = find_port_locked(number);
        if (port == nullptr) {
            return true;
        }
        closing = released(*port);
        registry_release(serial_table, number);
    }
    return close_released_port(closing);
}

void serial_close_all() {
    if (serial_table == nullptr) {
        return;
    }
    // Every record is given up under one hold, explicit numbers ascending and
    // then automatic ones oldest first; the closes follow in that order.
    std::vector<ReleasedPort> ports;
    registry_for_each(serial_table, [&ports](object_number number, void* port) {
        ports.push_back(released(*static_cast<SerialRecord*>(port)));
        registry_release(serial_table, number);
        return true;
    });
    // At shutdown no one is left to tell of a line that did not go back.
    for (const ReleasedPort& port : ports) {
        (void)close_released_port(port);
    }
}
