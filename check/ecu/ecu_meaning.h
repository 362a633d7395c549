// What an ECU check's results mean to a mechanic and to a script, beside the
// words of check/ecu/ecu_check.h (protocol_word, meaning_of): each protocol's
// name, what the key bytes say, and the exit status of a check.
#pragma once

#include "check/ecu/ecu_check.h"

#include <string>

// Every protocol --ecu names, in the order the help lists them.
inline constexpr EcuProtocol ECU_PROTOCOLS[] = {EcuProtocol::iso9141, EcuProtocol::kwp_slow,
                                                EcuProtocol::kwp_fast, EcuProtocol::kw1281};

// The word --ecu takes for trying them in turn.
inline constexpr char ECU_AUTO_WORD[] = "auto";

// "auto, iso9141, kwp-slow, kwp-fast, kw1281": what --ecu takes.
std::string ecu_protocol_words();

// The highest address a protocol's 5-baud wake-up can send: 127 for KW1281,
// whose eighth bit is its parity, 255 for the others.
int highest_address(EcuProtocol protocol);

// The protocol as a mechanic knows it: "ISO 9141-2", "KWP2000 slow init",
// "KWP2000 fast init", "KW1281".
const char* protocol_title(EcuProtocol protocol);

// What two key bytes (raw) say, for one line: the keyword they make (seven
// data bits each, KB2's above KB1's), the protocol it names, and for
// KWP2000 the header forms KB1 allows, such as "keyword 2031: KWP2000;
// headers with the length in the format byte or in a byte of its own, without
// addresses or with target and source". Empty unless there are two bytes.
std::string key_bytes_meaning(const std::string& key_bytes);

// The exit status of a check that was tried: 0 only when the ECU answered and
// the session held; late whose bounds prove no window missed is not proven
// (5); a check with no attempt (a stop was asked for) is not proven too. A
// port that did not open or was left alone has its test's status instead.
int ecu_exit_status(const EcuCheck& check);
