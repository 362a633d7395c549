#include "check/common/byte_text.h"

#include <cstdio>

namespace {

std::string escape(const std::string& bytes, bool quote) {
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((quote && byte == '"') || byte == '\\') {
            text += '\\';
            text += c;
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            text += code;
        }
    }
    return text;
}

} // namespace

std::string quoted_bytes(const std::string& bytes) {
    return "\"" + escape(bytes, true) + "\"";
}

std::string escaped(const std::string& text) {
    return escape(text, false);
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
