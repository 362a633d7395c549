#include "check/ecu/sync_rate.h"

#include "check/line/rate_check.h"

#include <cstdlib>

namespace {

constexpr unsigned char SYNC = 0x55;

// The line's level at bit index k of a byte: the start bit low, the data bits
// LSB first, then the stop bit and the idle line high.
bool level(unsigned char sent, long long k) {
    if (k == 0) {
        return false;
    }
    if (k <= 8) {
        return ((sent >> (k - 1)) & 1) != 0;
    }
    return true;
}

} // namespace

UartRead read_at_rate(unsigned char sent, int sent_rate, int read_rate) {
    // Sample j lies at (j + 1/2) / read_rate, in the sender's bit
    // (2j + 1) * sent_rate / (2 * read_rate).
    const auto bit_at = [&](long long j) {
        return (2 * j + 1) * static_cast<long long>(sent_rate) / (2LL * read_rate);
    };
    UartRead read;
    for (long long j = 1; j <= 8; ++j) {
        if (level(sent, bit_at(j))) {
            read.value = static_cast<unsigned char>(read.value | (1u << (j - 1)));
        }
    }
    read.framing_error = !level(sent, bit_at(9));
    return read;
}

std::optional<int> rate_from_sync(unsigned char received, bool framing_error, int line_rate) {
    for (const bool with_error : {true, false}) {
        for (const int rate : ECU_RATES) {
            if (std::abs(rate - line_rate) <= RATE_TOLERANCE * line_rate) {
                continue;
            }
            const UartRead read = read_at_rate(SYNC, rate, line_rate);
            if (read.value == received && (!with_error || read.framing_error == framing_error)) {
                return rate;
            }
        }
    }
    return std::nullopt;
}
