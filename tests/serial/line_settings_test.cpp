// The bits of the settings record that no pseudo-terminal keeps (it forces 8
// data bits and clears PARENB), and the rates refused; what a line keeps, the
// speeds and the raw mode among it, is read back from a real one in
// serial_port_test.cpp.
#include "serial/line_settings.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

termios settings_for(int baud, int parity, int data_bits, float stop_bits, int handshake) {
    auto settings = serial_line_settings(baud, parity, data_bits, stop_bits, handshake);
    EXPECT_TRUE(settings.has_value());
    return settings.value_or(termios{});
}

} // namespace

TEST(LineSettings, RatesOffTheListAreRefused) {
    for (int refused : {134, 200, 230400, 460800, -9600, 9601, 1, -1}) {
        EXPECT_FALSE(serial_line_settings(refused, 0, 8, 1.0f, 0)) << refused;
    }
}

TEST(LineSettings, DataBitsFiveToEightAreTakenOthersRefused) {
    EXPECT_EQ(settings_for(9600, 0, 5, 1.0f, 0).c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_EQ(settings_for(9600, 0, 6, 1.0f, 0).c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_EQ(settings_for(9600, 0, 7, 1.0f, 0).c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(settings_for(9600, 0, 8, 1.0f, 0).c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    for (int refused : {4, 9, 0, -8}) {
        EXPECT_FALSE(serial_line_settings(9600, 0, refused, 1.0f, 0)) << refused;
    }
}

TEST(LineSettings, ParityCodesSelectTheirBitsAndOtherCodesMeanNone) {
    const tcflag_t parity_mask = PARENB | PARODD | CMSPAR;
    EXPECT_EQ(settings_for(9600, 1, 8, 1.0f, 0).c_cflag & parity_mask,
              static_cast<tcflag_t>(PARENB | PARODD));
    EXPECT_EQ(settings_for(9600, 2, 8, 1.0f, 0).c_cflag & parity_mask,
              static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(settings_for(9600, 3, 8, 1.0f, 0).c_cflag & parity_mask,
              static_cast<tcflag_t>(CMSPAR | PARENB | PARODD));
    EXPECT_EQ(settings_for(9600, 4, 8, 1.0f, 0).c_cflag & parity_mask,
              static_cast<tcflag_t>(CMSPAR | PARENB));
    for (int none : {0, 5, 7, -1, 1000}) {
        EXPECT_EQ(settings_for(9600, none, 8, 1.0f, 0).c_cflag & parity_mask, 0u) << none;
    }
}

TEST(LineSettings, OnlyExactlyOneStopBitLeavesCstopbClear) {
    EXPECT_FALSE(settings_for(9600, 0, 8, 1.0f, 0).c_cflag & CSTOPB);
    for (float two : {1.5f, 2.0f, 0.0f, 1.0000001f, -1.0f, std::nanf("")}) {
        EXPECT_TRUE(settings_for(9600, 0, 8, two, 0).c_cflag & CSTOPB) << two;
    }
}

TEST(LineSettings, HandshakeCodes) {
    for (int none : {0, 1}) {
        termios settings = settings_for(9600, 0, 8, 1.0f, none);
        EXPECT_FALSE(settings.c_cflag & CRTSCTS);
        EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(IGNPAR));
    }
    EXPECT_TRUE(settings_for(9600, 0, 8, 1.0f, 2).c_cflag & CRTSCTS);
    // Software flow control goes into the input modes and leaves the speed
    // and the rest of the control modes as they were.
    termios software = settings_for(9600, 0, 8, 1.0f, 3);
    EXPECT_EQ(software.c_iflag, static_cast<tcflag_t>(IGNPAR | IXON | IXOFF | IXANY));
    EXPECT_EQ(software.c_cflag, static_cast<tcflag_t>(B9600 | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(cfgetospeed(&software), static_cast<speed_t>(B9600));
    for (int refused : {-1, 4, 100}) {
        EXPECT_FALSE(serial_line_settings(9600, 0, 8, 1.0f, refused)) << refused;
    }
}
