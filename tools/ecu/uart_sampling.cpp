#include "tools/ecu/uart_sampling.h"

namespace {

// The level of the sender's bit `index` (0 the start bit, 1 to 8 the data
// bits LSB first, 9 the stop bit; beyond it the idle line).
bool sent_level(unsigned char sent, long long index) {
    if (index == 0) {
        return false;
    }
    if (index >= 9) {
        return true;
    }
    return (sent >> (index - 1)) & 1;
}

} // namespace

UartByte uart_sample(unsigned char sent, long sent_rate, long read_rate) {
    // The receiver's bit k is sampled at (k + 1/2) of its bit times, which is
    // sender bit floor((2k + 1) * sent_rate / (2 * read_rate)); in integers,
    // so a sample on a bit boundary falls the same way every time.
    auto sampled = [&](long long k) {
        return sent_level(sent, (2 * k + 1) * sent_rate / (2LL * read_rate));
    };
    UartByte read;
    for (int bit = 0; bit < 8; ++bit) {
        if (sampled(bit + 1)) {
            read.value = static_cast<unsigned char>(read.value | (1u << bit));
        }
    }
    read.framing_error = !sampled(9);
    return read;
}
