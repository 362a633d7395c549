#include "gui/core/text_decoding.h"
#include "gui/core/text_storage.h"
#include "gui/text_encoding.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

std::string from_toolkit(const std::string& utf8) {
    return text_from_toolkit(utf8.c_str());
}

std::string to_toolkit(const char* text) {
    return text_to_toolkit(text).get();
}

TEST(TextToToolkit, ConvertsLatin9ToUtf8) {
    EXPECT_EQ(to_toolkit(nullptr), "");
    EXPECT_EQ(to_toolkit(""), "");
    EXPECT_EQ(to_toolkit("This is a test!"), "This is a test!");
    EXPECT_EQ(to_toolkit("\xA4"), "\xE2\x82\xAC") << "0xA4 is the euro sign in ISO-8859-15";
    EXPECT_EQ(to_toolkit("caf\xE9"), "caf\xC3\xA9");
}

TEST(TextFromToolkit, FollowsTheByteRulesOfTheListedCases) {
    EXPECT_EQ(std::string(text_from_toolkit(nullptr)), "");
    EXPECT_EQ(from_toolkit("Ab\xC3\xA9"), "Ab\xE9");
    EXPECT_EQ(from_toolkit("\xE2\x82\xAC"), "?");
    EXPECT_EQ(from_toolkit("\x80"), "");
    EXPECT_EQ(from_toolkit("\xC3\x41"), "?A");
    EXPECT_EQ(from_toolkit("ok\xC3"), "ok");
    // Four-byte sequences, whole and broken.
    EXPECT_EQ(from_toolkit("\xF0\x9F\x98\x80x"), "?x");
    EXPECT_EQ(from_toolkit("\xF0\x9F\x41\x42"), "?AB");
    EXPECT_EQ(from_toolkit("\xF0\x41\x42\x43"), "?ABC");
    // Three-byte sequences broken after the first or second byte.
    EXPECT_EQ(from_toolkit("\xE2\x41\x42"), "?AB");
    EXPECT_EQ(from_toolkit("\xE2\x82\x41"), "?A");
    // Lead bytes without enough bytes left, and bytes that never lead.
    EXPECT_EQ(from_toolkit("A\xE2\x82"), "A");
    EXPECT_EQ(from_toolkit("\xF8\xFF\xBF"
                           "B"),
              "B");
}

// The reading of one byte when nothing follows it.
std::string alone(unsigned char byte) {
    return byte < 0x80 ? std::string(1, static_cast<char>(byte)) : std::string();
}

bool continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

TEST(TextFromToolkit, EveryOneAndTwoByteInput) {
    for (int a = 1; a < 256; ++a) {
        std::string one(1, static_cast<char>(a));
        ASSERT_EQ(from_toolkit(one), alone(static_cast<unsigned char>(a))) << "byte " << a;
    }
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            auto lead = static_cast<unsigned char>(a);
            auto next = static_cast<unsigned char>(b);
            std::string expected;
            if (lead < 0x80) {
                expected = std::string(1, static_cast<char>(lead)) + alone(next);
            } else if (lead >= 0xC0 && lead <= 0xDF) {
                if (continuation(next)) {
                    unsigned code = ((lead & 0x1Fu) << 6) | (next & 0x3Fu);
                    expected = code <= 0xFF ? std::string(1, static_cast<char>(code)) : "?";
                } else {
                    expected = "?" + alone(next);
                }
            } else {
                // Stray continuation, 0xF8..0xFF, or a longer lead cut off.
                expected = alone(next);
            }
            std::string input{static_cast<char>(lead), static_cast<char>(next)};
            std::string got = text_from_toolkit(input.c_str());
            ASSERT_EQ(got, expected.substr(0, expected.find('\0'))) << a << "," << b;
        }
    }
}

TEST(TextFromToolkit, RoundTripKeepsEveryByteThatLatin9SharesWithLatin1) {
    const std::string latin9_only = "\xA4\xA6\xA8\xB4\xB8\xBC\xBD\xBE";
    for (int byte = 1; byte < 256; ++byte) {
        char text[2] = {static_cast<char>(byte), 0};
        std::string back = from_toolkit(to_toolkit(text));
        if (latin9_only.find(static_cast<char>(byte)) != std::string::npos) {
            EXPECT_EQ(back, "?") << byte;
        } else {
            EXPECT_EQ(back, std::string(text)) << byte;
        }
    }
}

TEST(TextStorage, ResultStaysValidUntilTheThreadsNextResult) {
    const char* first = text_from_toolkit("first");
    EXPECT_STREQ(first, "first");
    std::string long_text(1000, 'x');
    const char* second = text_from_toolkit(long_text.c_str());
    EXPECT_EQ(std::string(second), long_text);
    // Copying a thread's previous result into its own storage must survive the growth.
    std::string longer(5000, 'y');
    const char* grown = text_result(longer);
    const char* again = text_result(grown);
    EXPECT_EQ(std::string(again), longer);
}

TEST(TextStorage, EachThreadHasItsOwnStorage) {
    const char* mine = text_result("main thread");
    std::string seen_by_worker;
    std::thread worker([&] {
        TextStorage* storage = text_storage_create();
        seen_by_worker = text_result("worker thread with a longer text than sixteen bytes");
        text_storage_free(storage);
    });
    worker.join();
    EXPECT_STREQ(mine, "main thread");
    EXPECT_EQ(seen_by_worker, "worker thread with a longer text than sixteen bytes");
}

} // namespace
