#include "sys/delay.h"

#include <ctime>

void delay_ms(std::int32_t milliseconds) {
    // Truncating division keeps a negative delay negative in both parts, which
    // nanosleep refuses at once.
    timespec time{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&time, &time);
}
