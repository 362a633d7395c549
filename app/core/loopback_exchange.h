// The loopback exchange, without any toolkit: opens a port at 9600 8N1 with
// no handshake, writes "This is a test!", reads the echo one byte at a time
// and decides one of four verdicts. The window's test worker and
// lantoric-check both run it; an observer sees the text go out and the echo
// grow byte by byte.
#pragma once

#include "base/registry.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

inline constexpr const char* TEST_TEXT = "This is a test!";
inline constexpr int TEST_POLL_TRIES = 100;
inline constexpr int TEST_POLL_DELAY_MS = 10;
// A bus that never falls silent would otherwise keep the test going forever:
// no test runs longer than this after its write.
inline constexpr std::chrono::milliseconds TEST_TIME_LIMIT{5000};
// The received text keeps at most this many bytes; later bytes are read and
// dropped, so a chattering bus cannot grow it without limit.
inline constexpr std::size_t TEST_RECEIVE_LIMIT = 256;

// How long an exchange may listen. The window keeps the defaults; a slow rate
// needs more silence between its bytes.
struct ExchangeBounds {
    int poll_tries = TEST_POLL_TRIES;
    std::chrono::milliseconds time_limit = TEST_TIME_LIMIT;
    // End at once when the port hangs up (an adapter unplugged), rather than
    // listening out the silence a gone port keeps.
    bool end_when_gone = false;
};

enum class LoopbackVerdict { success, timeout, not_able_to_transmit, not_able_to_open };

// The verdict as the status bar shows it: "success", "timeout", "not able to
// transmit", "not able to open selected port".
const char* loopback_verdict_text(LoopbackVerdict verdict);

// Told about the exchange as it happens, on the thread that runs it.
class LoopbackObserver {
  public:
    virtual ~LoopbackObserver() = default;
    // The whole text was written; not called when the write fell short.
    virtual void sent(const std::string& sent_text) { (void)sent_text; }
    // A byte was added to the received text (zero bytes add nothing).
    virtual void received(const std::string& received_text) { (void)received_text; }
};

struct LoopbackResult {
    LoopbackVerdict verdict = LoopbackVerdict::not_able_to_open;
    // What the one write took: 15 when it went out in full.
    int bytes_written = 0;
    // Bytes that were waiting before the write (another program's traffic on
    // a shared port, which the opening leaves alone): read aside, no part of
    // the echo or its timing.
    int waiting_before = 0;
    // Every byte read after the write, zero bytes included, up to
    // TEST_RECEIVE_LIMIT.
    std::string received_bytes;
    // The received text as the window shows it: zero bytes add nothing.
    std::string received_text;
    // From just before the write to the first and to the last byte read.
    std::optional<std::chrono::steady_clock::duration> first_byte;
    std::optional<std::chrono::steady_clock::duration> last_byte;
    // The port hung up or failed with an I/O error during the exchange: the
    // device went away. The verdict stays what the window shows.
    bool port_gone = false;
};

// The rate of the window's test.
inline constexpr int TEST_BAUD_RATE = 9600;

// Opens path at 9600 8N1, no handshake, buffers 128 and 128, under the given
// number (OBJECT_ANY, or an explicit number: then the result is the
// descriptor). Returns serial_open's result, 0 when the port does not open.
object_number loopback_open(object_number number, const char* path);

// Reads aside what is waiting, no more than was waiting then, writes the
// text to the open port and reads the echo until the texts are
// equal (success), or until the bounds' poll tries found no input for
// TEST_POLL_DELAY_MS each or their time limit passed since the write (timeout).
// A poll waits on the descriptor, so a byte is read the moment it arrives.
// Does not close the port. Any thread; the observer may be null.
LoopbackResult loopback_exchange(object_number port, LoopbackObserver* observer,
                                 const ExchangeBounds& bounds = {});
