#include "tests/support/port_reads.h"

#include "serial/serial_port.h"
#include "tests/support/wait_until.h"

#include <algorithm>

std::string read_port(object_number port, std::size_t count, std::chrono::milliseconds deadline) {
    std::string bytes;
    char buffer[256];
    wait_until(
        [&] {
            int waiting = serial_input_available(port);
            if (waiting > 0) {
                std::size_t wanted = std::min(
                    {sizeof buffer, count - bytes.size(), static_cast<std::size_t>(waiting)});
                int got = serial_read(port, buffer, static_cast<int>(wanted));
                bytes.append(buffer, static_cast<std::size_t>(std::max(got, 0)));
            }
            return bytes.size() >= count;
        },
        deadline);
    return bytes;
}
