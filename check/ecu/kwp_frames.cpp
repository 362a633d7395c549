#include "check/ecu/kwp_frames.h"

#include <cstdio>

namespace {

// The format byte's top bits.
constexpr unsigned char PHYSICAL = 0x80;
constexpr unsigned char FUNCTIONAL = 0xC0;
constexpr unsigned char LENGTH_MASK = 0x3F;
constexpr unsigned char NEGATIVE = 0x7F;

// KB1's header bits: length in the format byte (AL0), an address header (HB1).
constexpr unsigned char KB1_LENGTH_IN_FORMAT = 0x01;
constexpr unsigned char KB1_ADDRESSES = 0x08;

} // namespace

unsigned char checksum(std::string_view bytes) {
    unsigned sum = 0;
    for (const char byte : bytes) {
        sum += static_cast<unsigned char>(byte);
    }
    return static_cast<unsigned char>(sum);
}

KwpHeaderForm header_form(std::optional<unsigned char> kb1) {
    if (!kb1) {
        return {};
    }
    return {(*kb1 & KB1_ADDRESSES) != 0, (*kb1 & KB1_LENGTH_IN_FORMAT) != 0};
}

std::string kwp_request(KwpHeaderForm form, int target, bool functional, std::string_view data) {
    std::string frame;
    const auto length = static_cast<unsigned char>(data.size());
    unsigned char format = form.addresses ? (functional ? FUNCTIONAL : PHYSICAL) : 0;
    if (form.length_in_format) {
        format |= length & LENGTH_MASK;
    }
    frame.push_back(static_cast<char>(format));
    if (form.addresses) {
        frame.push_back(static_cast<char>(target));
        frame.push_back(static_cast<char>(TESTER_ADDRESS));
    }
    if (!form.length_in_format) {
        frame.push_back(static_cast<char>(length));
    }
    frame.append(data);
    frame.push_back(static_cast<char>(checksum(frame)));
    return frame;
}

KwpFrame parse_kwp_frame(std::string_view bytes) {
    KwpFrame frame;
    if (bytes.empty()) {
        return frame;
    }
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char format = at(0);
    std::size_t header = 1;
    if ((format & FUNCTIONAL) != 0) {
        if (bytes.size() < 3) {
            return frame;
        }
        frame.target = at(1);
        frame.source = at(2);
        header = 3;
    }
    std::size_t length = format & LENGTH_MASK;
    if (length == 0) {
        if (bytes.size() <= header) {
            return frame;
        }
        length = at(header++);
        if (length == 0) {
            frame.state = FrameState::malformed;
            return frame;
        }
    }
    frame.size = header + length + 1;
    if (bytes.size() < frame.size) {
        return frame;
    }
    frame.data = std::string(bytes.substr(header, length));
    frame.state = checksum(bytes.substr(0, frame.size - 1)) == at(frame.size - 1)
                      ? FrameState::complete
                      : FrameState::bad_checksum;
    return frame;
}

std::optional<NegativeAnswer> negative_answer(std::string_view data) {
    if (data.size() < 3 || static_cast<unsigned char>(data[0]) != NEGATIVE) {
        return std::nullopt;
    }
    return NegativeAnswer{static_cast<unsigned char>(data[1]), static_cast<unsigned char>(data[2])};
}

std::string negative_code_name(unsigned char code) {
    switch (code) {
    case 0x10:
        return "general reject";
    case 0x11:
        return "service not supported";
    case 0x12:
        return "sub-function not supported";
    case BUSY_REPEAT_REQUEST:
        return "busy, repeat the request";
    case 0x22:
        return "conditions not correct";
    case 0x31:
        return "request out of range";
    case 0x33:
        return "security access denied";
    case RESPONSE_PENDING:
        return "response pending";
    default:
        break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "code 0x%02X", code);
    return text;
}

std::string refusal_text(const NegativeAnswer& answer) {
    char text[16];
    std::snprintf(text, sizeof text, "7F %02X %02X: ", answer.service, answer.code);
    return text + negative_code_name(answer.code);
}
