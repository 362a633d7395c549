// Fuzz target for the two text conversions at the toolkit boundary.
//
// The input is read twice. As a program text (up to its first zero byte) it
// must come back unchanged from text_from_toolkit(text_to_toolkit(text)): a
// device name goes into the port chooser and back out to the open. As a
// toolkit text, the decoder may produce only what a strict UTF-8 decoder
// finds in it: an overlong form, a surrogate or a value above U+10FFFF is as
// invalid as any other broken sequence and must never yield a character, so
// C0 AF never becomes "/". How many "?" a broken sequence gives is the
// decoder's choice, so both sides are compared with every "?" taken out.
#include "base/text_decoding.h"
#include "gui/text_encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

[[noreturn]] void fail(const char* what, const std::string& input, const std::string& got,
                       const std::string& expected) {
    auto hex = [](const std::string& bytes) {
        std::string shown;
        for (unsigned char byte : bytes) {
            std::array<char, 4> digits{};
            std::snprintf(digits.data(), digits.size(), "%02X ", byte);
            shown += digits.data();
        }
        return shown;
    };
    std::fprintf(stderr, "%s\n  input:    %s\n  got:      %s\n  expected: %s\n", what,
                 hex(input).c_str(), hex(got).c_str(), hex(expected).c_str());
    std::abort();
}

// Length of the well-formed UTF-8 sequence at p (Unicode's table of
// well-formed byte sequences), 0 if none starts there.
std::size_t well_formed_length(const unsigned char* p, std::size_t left) {
    auto in = [](unsigned char byte, unsigned low, unsigned high) {
        return byte >= low && byte <= high;
    };
    unsigned char lead = p[0];
    if (lead < 0x80) {
        return 1;
    }
    if (in(lead, 0xC2, 0xDF)) {
        return left >= 2 && in(p[1], 0x80, 0xBF) ? 2 : 0;
    }
    if (in(lead, 0xE0, 0xEF)) {
        unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return left >= 3 && in(p[1], low, high) && in(p[2], 0x80, 0xBF) ? 3 : 0;
    }
    if (in(lead, 0xF0, 0xF4)) {
        unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return left >= 4 && in(p[1], low, high) && in(p[2], 0x80, 0xBF) && in(p[3], 0x80, 0xBF) ? 4
                                                                                                : 0;
    }
    return 0;
}

// The toolkit form of every non-zero byte, as text_to_toolkit gives it: the
// decoder's expected result for a well-formed character is the byte whose
// toolkit form it is, and "?" for a character no byte maps to.
const std::map<std::string, char>& byte_of_character() {
    static const auto* table = [] {
        auto* made = new std::map<std::string, char>;
        for (int value = 1; value < 256; ++value) {
            const char byte_text[2] = {static_cast<char>(value), '\0'};
            (*made)[text_to_toolkit(byte_text).get()] = static_cast<char>(value);
        }
        return made;
    }();
    return *table;
}

std::string without_question_marks(const std::string& text) {
    std::string kept;
    for (char c : text) {
        if (c != '?') {
            kept.push_back(c);
        }
    }
    return kept;
}

void check_round_trip(const std::string& program_text) {
    ToolkitText toolkit = text_to_toolkit(program_text.c_str());
    std::string back = text_from_toolkit(toolkit.get());
    if (back != program_text) {
        fail("a program text does not come back from the toolkit unchanged", program_text, back,
             program_text);
    }
}

void check_strict_decoding(const std::string& toolkit_text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(toolkit_text.data());
    std::string expected;
    for (std::size_t at = 0; at < toolkit_text.size();) {
        std::size_t length = well_formed_length(bytes + at, toolkit_text.size() - at);
        if (length == 0) {
            ++at; // broken: no character, only "?" or nothing
            continue;
        }
        auto found = byte_of_character().find(toolkit_text.substr(at, length));
        expected.push_back(found != byte_of_character().end() ? found->second : '?');
        at += length;
    }
    std::string got = text_from_toolkit(toolkit_text.c_str());
    if (without_question_marks(got) != without_question_marks(expected)) {
        fail("the decoder yields a character a strict decoder does not find", toolkit_text, got,
             expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0')); // texts are zero-terminated
    check_round_trip(text);
    check_strict_decoding(text);
    return 0;
}
