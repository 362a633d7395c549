// The whole settings record. Pseudo-terminals force 8 data bits and clear
// PARENB, so the bits that no pty keeps are checked here; the rest is also
// read back from a real line in serial_port_test.cpp.
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

TEST(LineSettings, TheTestersSettingsAreRaw9600EightNoneOne) {
    termios settings = settings_for(9600, 0, 8, 1.0f, 0);
    EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(settings.c_oflag, 0u);
    EXPECT_EQ(settings.c_lflag, 0u);
    EXPECT_EQ(settings.c_cflag, static_cast<tcflag_t>(B9600 | CS8 | CREAD | CLOCAL));
    for (int index = 0; index < NCCS; ++index) {
        int expected = index == VEOF     ? 4
                       : index == VMIN   ? 1
                       : index == VSTART ? 21
                       : index == VSTOP  ? 23
                                         : 0;
        EXPECT_EQ(settings.c_cc[index], expected) << "control character " << index;
    }
    EXPECT_EQ(settings.c_ispeed, 0u);
    EXPECT_EQ(settings.c_ospeed, 0u);
}

TEST(LineSettings, EveryListedRateSelectsItsSpeedAndNoOtherRateIsTaken) {
    const std::pair<int, speed_t> rates[] = {
        {0, B0},         {50, B50},       {75, B75},       {110, B110},
        {150, B150},     {300, B300},     {600, B600},     {1200, B1200},
        {1800, B1800},   {2400, B2400},   {4800, B4800},   {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (auto [rate, speed] : rates) {
        termios settings = settings_for(rate, 0, 8, 1.0f, 0);
        EXPECT_EQ(settings.c_cflag & CBAUD, speed) << rate;
        EXPECT_EQ(cfgetospeed(&settings), speed) << rate;
    }
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
