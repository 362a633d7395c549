#include "base/text_decoding.h"

#include "base/text_storage.h"

#include <cstddef>

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// ISO-8859-15 differs from ISO-8859-1 in eight places; text_to_toolkit reads
// program texts as ISO-8859-15, so these code points come back as those bytes.
struct Latin9Difference {
    char32_t code;
    unsigned char byte;
};
constexpr Latin9Difference latin9_differences[] = {
    {0x20AC, 0xA4}, {0x0160, 0xA6}, {0x0161, 0xA8}, {0x017D, 0xB4},
    {0x017E, 0xB8}, {0x0152, 0xBC}, {0x0153, 0xBD}, {0x0178, 0xBE},
};

// The program byte for a decoded character, or "?" when ISO-8859-15 has none.
char latin9_byte(char32_t code) {
    for (const Latin9Difference& difference : latin9_differences) {
        if (difference.code == code) {
            return static_cast<char>(difference.byte);
        }
        // The ISO-8859-1 characters that ISO-8859-15 replaced have no byte.
        if (difference.byte == code) {
            return '?';
        }
    }
    return code <= 0xFF ? static_cast<char>(code) : '?';
}

// What a lead byte starts: the sequence's length and the range its second byte
// must lie in. The narrowed ranges after E0, ED, F0 and F4 are what keep out
// overlong forms, surrogates and values above U+10FFFF; C0, C1 and F5..F7 lead
// nothing valid, so their range is empty.
struct Lead {
    std::size_t length; // 0: not a lead byte
    unsigned char second_low;
    unsigned char second_high;
    char32_t bits;
};

Lead read_lead(unsigned char byte) {
    if (byte >= 0xC0 && byte <= 0xDF) {
        return {2, static_cast<unsigned char>(byte >= 0xC2 ? 0x80 : 0xFF), 0xBF, byte & 0x1Fu};
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        unsigned char low = byte == 0xE0 ? 0xA0 : 0x80;
        unsigned char high = byte == 0xED ? 0x9F : 0xBF;
        return {3, low, high, byte & 0x0Fu};
    }
    if (byte >= 0xF0 && byte <= 0xF7) {
        unsigned char low = byte == 0xF0 ? 0x90 : 0x80;
        unsigned char high = byte == 0xF4 ? 0x8F : 0xBF;
        if (byte > 0xF4) {
            low = 0xFF;
        }
        return {4, low, high, byte & 0x07u};
    }
    return {0, 0, 0, 0};
}

struct Decoded {
    std::size_t span; // input bytes consumed
    bool writes;      // whether one output byte is produced
    char byte;
};

// Decodes the sequence at p; the caller counts and writes with the same rules.
// A sequence that breaks off, or that no valid character has, gives one "?"
// and consumes the bytes accepted so far; the continuation bytes after the
// break are then stray and give nothing.
Decoded decode_one(const unsigned char* p, const unsigned char* end) {
    if (*p < 0x80) {
        return {1, true, static_cast<char>(*p)};
    }
    Lead lead = read_lead(*p);
    auto left = static_cast<std::size_t>(end - p) - 1;
    // A stray continuation byte, 0xF8..0xFF, or a lead byte cut off by the end.
    if (lead.length == 0 || left < lead.length - 1) {
        return {1, false, '\0'};
    }
    if (p[1] < lead.second_low || p[1] > lead.second_high) {
        return {1, true, '?'};
    }
    char32_t code = lead.bits;
    std::size_t span = 1;
    for (; span < lead.length; ++span) {
        if (span > 1 && !is_continuation(p[span])) {
            return {span, true, '?'};
        }
        code = (code << 6) | (p[span] & 0x3Fu);
    }
    return {span, true, latin9_byte(code)};
}

} // namespace

const char* text_from_toolkit(const char* text) {
    if (text == nullptr) {
        text = "";
    }
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = begin;
    while (*end != 0) {
        ++end;
    }
    std::size_t length = 0;
    for (const unsigned char* p = begin; p < end;) {
        Decoded decoded = decode_one(p, end);
        length += decoded.writes ? 1 : 0;
        p += decoded.span;
    }
    char* result = text_storage_reserve(length);
    std::size_t written = 0;
    for (const unsigned char* p = begin; p < end;) {
        Decoded decoded = decode_one(p, end);
        if (decoded.writes) {
            result[written++] = decoded.byte;
        }
        p += decoded.span;
    }
    result[written] = '\0';
    return result;
}
