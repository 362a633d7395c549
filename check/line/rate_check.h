// Whether the line runs at the rate asked: the driver's read-back against the
// rate, and the chip's known lowest rate, below which that read-back cannot be
// trusted. Every test is checked so, K-line or not; the time bytes need on the
// wire at a rate is here too, as the measure every timing is set against.
#pragma once

#include "app/core/loopback_exchange.h"
#include "check/port/usb_identity.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// A UART takes a line up to this far off its own rate.
inline constexpr double RATE_TOLERANCE = 0.02;

// The rate the driver runs after it was asked for one.
struct RateCheck {
    int asked = 0;
    std::optional<int> read_back; // none when the read failed
    // The read-back is within RATE_TOLERANCE of the rate asked.
    bool within_tolerance = false;
    // The USB identity names a chip whose lowest rate is above the one asked:
    // its driver's read-back cannot be trusted there.
    std::optional<int> chip_lowest_rate;
    std::string chip;
};

// The rate check of an opened port: asked against read back (none when it
// could not be read), and the lowest rate of the converter chip behind it
// where one is known. Any thread.
RateCheck check_rate(int asked, std::optional<int> read_back, ConverterChip chip);

// What a rate check found, decided once for the summary and the verdict.
enum class RateFinding {
    // The chip runs no slower than its lowest rate, above the one asked.
    below_chip_lowest,
    // The driver did not say which rate the line runs at.
    not_read_back,
    // The line runs at another rate than the one asked.
    off_rate,
    // The line runs at the rate asked.
    runs,
};
RateFinding rate_finding(const RateCheck& rate);

// Whether the rate check says the port cannot run the rate asked.
bool rate_fails(const RateCheck& rate);

// How long bytes (the 15 of the text unless told) need on the wire at the
// rate, 8N1 (10 bits a byte).
std::chrono::steady_clock::duration
wire_time(int baud_rate, std::size_t bytes = std::char_traits<char>::length(TEST_TEXT));
