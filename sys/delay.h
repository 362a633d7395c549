// Millisecond delays.
#pragma once

#include <cstdint>

// Sleeps the calling thread for the given milliseconds with one nanosleep. A
// delay cut short by a signal is not resumed; a delay of 0 or less returns at
// once. Any thread; takes no lock.
void delay_ms(std::int32_t milliseconds);
