#include "serial/text_utf8.h"

std::string text_to_utf8(const char* text) {
    std::string converted;
    if (text == nullptr) {
        return converted;
    }
    for (const char* at = text; *at != '\0'; ++at) {
        auto byte = static_cast<unsigned char>(*at);
        if (byte < 0x80) {
            converted.push_back(static_cast<char>(byte));
        } else {
            converted.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            converted.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return converted;
}
