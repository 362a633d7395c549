#include "serial/line_settings.h"

#include <array>
#include <utility>

namespace {

// Only the classic rates: 134 and 200 and everything above 115200 are
// refused even where the terminal interface would know them.
constexpr std::array<std::pair<int, speed_t>, 16> speeds{{
    {0, B0},
    {50, B50},
    {75, B75},
    {110, B110},
    {150, B150},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

std::optional<tcflag_t> speed_bits(int baud_rate) {
    for (const auto& [rate, constant] : speeds) {
        if (rate == baud_rate) {
            return constant;
        }
    }
    return std::nullopt;
}

std::optional<tcflag_t> size_bits(int data_bits) {
    switch (data_bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    case 8:
        return CS8;
    default:
        return std::nullopt;
    }
}

// Codes outside 1..4 mean no parity rather than a refusal.
tcflag_t parity_bits(int parity) {
    switch (parity) {
    case 1:
        return PARENB | PARODD;
    case 2:
        return PARENB;
    case 3:
        return CMSPAR | PARENB | PARODD;
    case 4:
        return CMSPAR | PARENB;
    default:
        return 0;
    }
}

} // namespace

std::optional<termios> serial_line_settings(int baud_rate, int parity, int data_bits,
                                            float stop_bits, int handshake) {
    auto speed = speed_bits(baud_rate);
    auto size = size_bits(data_bits);
    if (!speed || !size || handshake < 0 || handshake > 3) {
        return std::nullopt;
    }
    termios settings{};
    // Bytes with framing or parity errors are dropped rather than passed on
    // marked; code 3 is software flow control, whose flags belong here (in the
    // control modes the same bit values would change the speed).
    settings.c_iflag = IGNPAR;
    if (handshake == 3) {
        settings.c_iflag |= IXON | IXOFF | IXANY;
    }
    // Bytes go out as they are: no output processing.
    settings.c_oflag = 0;
    // The line itself. Anything but exactly one stop bit (NaN too) means two;
    // CREAD | CLOCAL receive without waiting for modem lines.
    settings.c_cflag = *speed | *size | parity_bits(parity) | CREAD | CLOCAL;
    if (!(stop_bits == 1.0f)) {
        settings.c_cflag |= CSTOPB;
    }
    if (handshake == 2) {
        settings.c_cflag |= CRTSCTS;
    }
    // Raw input: no line editing, echo or signals.
    settings.c_lflag = 0;
    // VMIN and VTIME play no part on a non-blocking descriptor; the start and
    // stop characters matter only under software flow control.
    settings.c_cc[VEOF] = 4;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    settings.c_cc[VSTART] = 21;
    settings.c_cc[VSTOP] = 23;
    return settings;
}
