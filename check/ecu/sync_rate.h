// Which rate an ECU talks at, from its sync byte: 0x55 sent at one rate and
// read by a UART at another arrives as another byte (a 9600 ECU's 0x55 read
// at 10400 is 0x95 with a framing error), while its key bytes may come
// through intact. So the rate is judged by the sync byte, never by the key
// bytes alone.
#pragma once

#include <optional>

// The rates K-line ECUs talk at, the likeliest first.
inline constexpr int ECU_RATES[] = {10400, 9600, 4800, 2400, 1200, 14400, 19200};

// What a UART at read_rate makes of one byte sent at sent_rate, from the
// start bit's falling edge: each bit sampled at its middle, 8N1.
struct UartRead {
    unsigned char value = 0;
    bool framing_error = false; // the stop bit sampled low
};
UartRead read_at_rate(unsigned char sent, int sent_rate, int read_rate);

// The rate of ECU_RATES, other than the line's own, at which a 0x55 reads
// as the byte received (with the framing error the driver reported first, else
// any); none when no rate does.
std::optional<int> rate_from_sync(unsigned char received, bool framing_error, int line_rate);
