#include "app/core/loopback_exchange.h"

#include "serial/serial_port.h"
#include "sys/delay.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

const char* loopback_verdict_text(LoopbackVerdict verdict) {
    switch (verdict) {
    case LoopbackVerdict::success:
        return "success";
    case LoopbackVerdict::timeout:
        return "timeout";
    case LoopbackVerdict::not_able_to_transmit:
        return "not able to transmit";
    case LoopbackVerdict::not_able_to_open:
        break;
    }
    return "not able to open selected port";
}

object_number loopback_open(object_number number, const char* path) {
    return serial_open(number, path, TEST_BAUD_RATE, 0, 8, 1.0f, 0, 128, 128);
}

namespace {

// Reads aside what waited before the write (another program's traffic), so it
// is never taken for the echo; how many bytes. Bounded by what waited at the
// start, so a bus that never falls silent cannot keep the test from its write.
int read_aside_waiting(object_number port) {
    int read_aside = 0;
    for (int waiting = serial_input_available(port); waiting > 0;) {
        char aside[256];
        const int got = serial_read(port, aside, std::min<int>(waiting, sizeof aside));
        if (got <= 0) {
            break;
        }
        read_aside += got;
        waiting -= got;
    }
    return read_aside;
}

// Reads the echo byte by byte into result until it equals the text sent or
// the bounds run out; whether it came back.
bool receive_echo(object_number port, LoopbackObserver* observer, const ExchangeBounds& bounds,
                  Clock::time_point written, LoopbackResult& result) {
    const std::string sent_text = TEST_TEXT;
    int tries_left = bounds.poll_tries;
    const Clock::time_point give_up = written + bounds.time_limit;
    while (tries_left != 0) {
        if (Clock::now() >= give_up) {
            return false;
        }
        // Only a poll that waited its whole interval without input costs a
        // try; a byte arriving meanwhile ends the wait at once.
        if (serial_input_available(port) == 0 && serial_wait_input(port, TEST_POLL_DELAY_MS) == 0) {
            --tries_left;
            if (!result.port_gone && serial_port_gone(port)) {
                result.port_gone = true;
                if (bounds.end_when_gone) {
                    return false;
                }
            }
            continue;
        }
        unsigned char byte = 0;
        // A port that reports waiting input but delivers none on read is as
        // good as silent; counting that pass keeps such a port from spinning
        // the loop forever.
        if (serial_read(port, &byte, 1) != 1) {
            delay_ms(TEST_POLL_DELAY_MS);
            --tries_left;
            continue;
        }
        const Clock::duration at = Clock::now() - written;
        if (!result.first_byte) {
            result.first_byte = at;
        }
        result.last_byte = at;
        if (result.received_bytes.size() < TEST_RECEIVE_LIMIT) {
            result.received_bytes.push_back(static_cast<char>(byte));
        }
        // A zero byte ends a program text, so it adds nothing.
        if (byte == 0 || result.received_text.size() >= TEST_RECEIVE_LIMIT) {
            continue;
        }
        result.received_text.push_back(static_cast<char>(byte));
        if (observer != nullptr) {
            observer->received(result.received_text);
        }
        if (result.received_text == sent_text) {
            return true;
        }
    }
    return false;
}

} // namespace

LoopbackResult loopback_exchange(object_number port, LoopbackObserver* observer,
                                 const ExchangeBounds& bounds) {
    LoopbackResult result;
    const std::string sent_text = TEST_TEXT;
    result.waiting_before = read_aside_waiting(port);
    const Clock::time_point written = Clock::now();
    result.bytes_written = serial_write_string(port, sent_text.c_str());
    if (result.bytes_written != static_cast<int>(sent_text.size())) {
        result.verdict = LoopbackVerdict::not_able_to_transmit;
        result.port_gone = serial_port_gone(port);
        return result;
    }
    // Told only now: a text that did not go out in full is never shown.
    if (observer != nullptr) {
        observer->sent(sent_text);
    }
    const bool echoed = receive_echo(port, observer, bounds, written, result);
    result.verdict = echoed ? LoopbackVerdict::success : LoopbackVerdict::timeout;
    return result;
}
