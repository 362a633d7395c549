// What a UART reads of one byte sent at another rate: the receiver starts at
// the byte's falling start edge and samples the middle of each of its own bit
// times, so a few per cent apart still reads right and more reads garbled.
#pragma once

struct UartByte {
    unsigned char value = 0;
    // The stop bit was sampled low.
    bool framing_error = false;
};

// The byte a receiver at read_rate takes from `sent` sent alone (8N1, the
// line idle high after it) at sent_rate. Rates in baud, both above zero.
UartByte uart_sample(unsigned char sent, long sent_rate, long read_rate);
