#include "tests/support/port_reads.h"

#include "serial/serial_port.h"

#include <algorithm>
#include <thread>

std::string read_port(object_number port, std::size_t count, std::chrono::milliseconds deadline) {
    std::string bytes;
    auto until = std::chrono::steady_clock::now() + deadline;
    char buffer[256];
    while (bytes.size() < count && std::chrono::steady_clock::now() < until) {
        int waiting = serial_input_available(port);
        if (waiting == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        std::size_t wanted =
            std::min({sizeof buffer, count - bytes.size(), static_cast<std::size_t>(waiting)});
        int got = serial_read(port, buffer, static_cast<int>(wanted));
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}
