#include "check/byte_text.h"

#include <cstdio>

std::string quoted_bytes(const std::string& bytes) {
    std::string text = "\"";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += c;
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        }
    }
    return text + "\"";
}

std::string hex_bytes(const std::string& bytes, std::optional<std::size_t> marked) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, marked == i ? "[%02x]" : "%02x",
                      static_cast<unsigned char>(bytes[i]));
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}
