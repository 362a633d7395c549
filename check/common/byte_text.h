// Received bytes as a person reads them: text with escapes, and hex.
#pragma once

#include <optional>
#include <string>

// The bytes in double quotes; printable ASCII as it is (\" and \\ escaped),
// every other byte as \xNN.
std::string quoted_bytes(const std::string& bytes);

// Text from another user or a device (a process name, a link target, a USB
// string, a path) made safe for a terminal and for one line: printable ASCII
// as it is, a backslash doubled, every other byte as \xNN.
std::string escaped(const std::string& text);

// The bytes as two hex digits each, separated by spaces; the byte at marked,
// if any, in square brackets.
std::string hex_bytes(const std::string& bytes, std::optional<std::size_t> marked = std::nullopt);
