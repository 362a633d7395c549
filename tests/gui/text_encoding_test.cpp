#include "base/text_decoding.h"
#include "base/text_storage.h"
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

struct DecodingCase {
    const char* name;
    std::string utf8;
    std::string program_text;
};

// Broken and cut-off sequences, and the listed cases; whole sequences are all
// checked against GLib below.
TEST(TextFromToolkit, DecodesStrictUtf8IntoLatin9) {
    const DecodingCase cases[] = {
        {"latin-1 letter", "Ab\xC3\xA9", "Ab\xE9"},
        {"euro sign", "\xE2\x82\xAC", "\xA4"},
        {"currency sign has no latin-9 byte", "\xC2\xA4", "?"},
        {"lone continuation", "\x80", ""},
        {"broken two-byte", "\xC3\x41", "?A"},
        {"cut off at the end", "ok\xC3", "ok"},
        {"three-byte cut off", "A\xE2\x82", "A"},
        {"four-byte whole", "\xF0\x9F\x98\x80x", "?x"},
        {"four-byte broken", "\xF0\x9F\x41\x42", "?AB"},
        {"four-byte broken early", "\xF0\x41\x42\x43", "?ABC"},
        {"three-byte broken late", "\xE2\x82\x41", "?A"},
        {"never a lead",
         "\xF8\xFF\xBF"
         "B",
         "B"},
        {"overlong slash", "x\xC0\xAF..\xC0\xAFnull", "x?..?null"},
        {"overlong zero", "a\xC0\x80z", "a?z"},
        {"overlong three-byte slash", "\xE0\x80\xAF", "?"},
        {"surrogate", "\xED\xA0\x80", "?"},
    };
    EXPECT_EQ(std::string(text_from_toolkit(nullptr)), "");
    for (const DecodingCase& row : cases) {
        EXPECT_EQ(from_toolkit(row.utf8), row.program_text) << row.name;
    }
}

// What an independent decoder makes of a sequence: GLib accepts only well-formed
// UTF-8, and iconv knows which characters ISO-8859-15 has.
std::string latin9_of(const std::string& sequence) {
    if (!g_utf8_validate(sequence.data(), static_cast<gssize>(sequence.size()), nullptr)) {
        return "invalid";
    }
    ToolkitText converted(g_convert(sequence.data(), static_cast<gssize>(sequence.size()),
                                    "ISO-8859-15", "UTF-8", nullptr, nullptr, nullptr));
    // iconv drops some characters (tag characters) instead of failing.
    return converted && converted.get()[0] != '\0' ? std::string(converted.get()) : "?";
}

// Every sequence of a lead byte and continuation bytes gives exactly one
// character: the one an independent decoder gives, or "?" where that finds the
// sequence invalid (overlong, surrogate, too large) or without a latin-9 byte.
TEST(TextFromToolkit, EveryLeadAndContinuationSequenceAgreesWithGLib) {
    auto check = [](const std::string& sequence) {
        std::string expected = latin9_of(sequence);
        std::string got = from_toolkit(sequence);
        if (expected == "invalid") {
            expected = "?";
        }
        ASSERT_EQ(got, expected) << testing::PrintToString(sequence);
    };
    // The last byte varies too, so an overlong "/" or "." in any length shows.
    for (int lead = 0xC0; lead <= 0xF7; ++lead) {
        for (int second = 0x80; second <= 0xBF; ++second) {
            std::string start{static_cast<char>(lead), static_cast<char>(second)};
            if (lead < 0xE0) {
                check(start);
                continue;
            }
            for (int last = 0x80; last <= 0xBF; ++last) {
                check(start + (lead >= 0xF0 ? "\x80" : "") + static_cast<char>(last));
            }
        }
    }
}

// The chooser hands program texts to the toolkit and takes them back: every
// byte must come back as itself, or a device name would change on the way.
TEST(TextFromToolkit, IsTheExactInverseOfTextToToolkitForEveryByte) {
    std::string every_byte;
    for (int byte = 1; byte < 256; ++byte) {
        std::string text(1, static_cast<char>(byte));
        EXPECT_EQ(from_toolkit(to_toolkit(text.c_str())), text) << "byte " << byte;
        every_byte += text;
    }
    EXPECT_EQ(from_toolkit(to_toolkit(every_byte.c_str())), every_byte);
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
        OwnedTextStorage storage = text_storage_create();
        seen_by_worker = text_result("worker thread with a longer text than sixteen bytes");
    });
    worker.join();
    EXPECT_STREQ(mine, "main thread");
    EXPECT_EQ(seen_by_worker, "worker thread with a longer text than sixteen bytes");
}

} // namespace
