// KWP2000 frames (ISO 14230-2): a format byte whose top bits say whether a
// target and source address follow and whose low six bits hold the length,
// or 0 for a separate length byte; then the data and a checksum. Which forms
// an ECU takes its key byte KB1 says. The ECU's negative answers named.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The tester's own address on the bus.
inline constexpr unsigned char TESTER_ADDRESS = 0xF1;

// The sum of the bytes, modulo 256: the last byte of a KWP2000 frame and of
// an ISO 9141-2 message.
unsigned char checksum(std::string_view bytes);

// Which header a request is sent with.
struct KwpHeaderForm {
    bool addresses = true;        // a target and a source byte
    bool length_in_format = true; // else a separate length byte
};

// The form KB1 asks for; none (before the key bytes came, at fast init):
// addresses and the length in the format byte, which every ECU takes.
KwpHeaderForm header_form(std::optional<unsigned char> kb1);

// A request to the target: functional (0xC0) or physical (0x80) addressing,
// with its checksum.
std::string kwp_request(KwpHeaderForm form, int target, bool functional, std::string_view data);

enum class FrameState { incomplete, complete, bad_checksum, malformed };

struct KwpFrame {
    FrameState state = FrameState::incomplete;
    int target = -1; // -1: the header carries no address
    int source = -1;
    std::string data;
    // The frame's bytes, checksum included.
    std::size_t size = 0;
};

// The frame at the start of bytes, or how far it is from being one; bytes
// after it are left to the next.
KwpFrame parse_kwp_frame(std::string_view bytes);

// 7F <service> <code>: the ECU refuses a request.
struct NegativeAnswer {
    unsigned char service = 0;
    unsigned char code = 0;
};
std::optional<NegativeAnswer> negative_answer(std::string_view data);

// "general reject", "service not supported", "busy, repeat the request",
// "response pending", ...; "code 0xNN" for the others.
std::string negative_code_name(unsigned char code);

// What a refusal says, for the text: "7F 81 12: sub-function not supported".
std::string refusal_text(const NegativeAnswer& answer);

// The answer is pending (0x78): more time, then the answer. Busy (0x21):
// the request may be repeated.
inline constexpr unsigned char RESPONSE_PENDING = 0x78;
inline constexpr unsigned char BUSY_REPEAT_REQUEST = 0x21;
