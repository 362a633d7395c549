#include "gui/core/text_decoding.h"

#include "gui/core/text_storage.h"

#include <cstddef>

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

struct Decoded {
    std::size_t span; // input bytes consumed
    bool writes;      // whether one output byte is produced
    char byte;
};

// Decodes the sequence at p; the caller counts and writes with the same rules.
Decoded decode_one(const unsigned char* p, const unsigned char* end) {
    unsigned char lead = *p;
    auto left = static_cast<std::size_t>(end - p) - 1;
    if (lead < 0x80) {
        return {1, true, static_cast<char>(lead)};
    }
    if (lead >= 0xC0 && lead <= 0xDF && left >= 1) {
        if (!is_continuation(p[1])) {
            return {1, true, '?'};
        }
        unsigned code = ((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu);
        return {2, true, code <= 0xFF ? static_cast<char>(code) : '?'};
    }
    if (lead >= 0xE0 && lead <= 0xEF && left >= 2) {
        if (!is_continuation(p[1])) {
            return {1, true, '?'};
        }
        return {is_continuation(p[2]) ? 3u : 2u, true, '?'};
    }
    if (lead >= 0xF0 && lead <= 0xF7 && left >= 3) {
        std::size_t span = 1;
        while (span < 4 && is_continuation(p[span])) {
            ++span;
        }
        return {span, true, '?'};
    }
    // A stray continuation byte, 0xF8..0xFF, or a lead byte cut off by the end.
    return {1, false, '\0'};
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
