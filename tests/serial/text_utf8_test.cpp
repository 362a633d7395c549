#include "serial/text_utf8.h"

#include <gtest/gtest.h>
#include <string>

TEST(TextToUtf8, CopiesSevenBitTextUnchanged) {
    EXPECT_EQ(text_to_utf8("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(text_to_utf8("\x01\x7F"), "\x01\x7F");
}

TEST(TextToUtf8, ReadsEveryHighByteAsTheCharacterOfTheSameValue) {
    EXPECT_EQ(text_to_utf8("\x80"), "\xC2\x80");
    EXPECT_EQ(text_to_utf8("\xA4"), "\xC2\xA4"); // U+00A4, not the euro sign of ISO-8859-15
    EXPECT_EQ(text_to_utf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(text_to_utf8("\xFF"), "\xC3\xBF");
}

TEST(TextToUtf8, StopsAtTheFirstZeroByteAndTakesNoText) {
    EXPECT_EQ(text_to_utf8("ab\0cd"), "ab");
    EXPECT_EQ(text_to_utf8(""), "");
    EXPECT_EQ(text_to_utf8(nullptr), "");
}
