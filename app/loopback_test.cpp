#include "app/loopback_test.h"

#include "app/main_window.h"
#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "gui/statusbar.h"
#include "serial/serial_port.h"
#include "sys/delay.h"

#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Writes the text and reads the echo; returns the verdict for an open port.
const char* exchange(object_number test_port) {
    const std::string sent_text = TEST_TEXT;
    if (serial_write_string(test_port, sent_text.c_str()) != static_cast<int>(sent_text.size())) {
        return "not able to transmit";
    }
    // Shown only now: a text that did not go out in full is never displayed.
    gadget_set_text(GADGET_TRANSMIT_TEXT, sent_text.c_str());

    std::string received_text;
    int tries_left = TEST_POLL_TRIES;
    const Clock::time_point give_up = Clock::now() + TEST_TIME_LIMIT;
    while (tries_left != 0) {
        if (Clock::now() >= give_up) {
            tries_left = 0;
            break;
        }
        unsigned char byte = 0;
        // A port that reports waiting input but delivers none on read is as
        // good as silent; counting that pass keeps such a port from spinning
        // the loop forever.
        if (serial_input_available(test_port) == 0 || serial_read(test_port, &byte, 1) != 1) {
            delay_ms(TEST_POLL_DELAY_MS);
            --tries_left;
            continue;
        }
        // A zero byte ends a program text, so it adds nothing.
        if (byte == 0 || received_text.size() >= TEST_RECEIVE_LIMIT) {
            continue;
        }
        received_text.push_back(static_cast<char>(byte));
        gadget_set_text(GADGET_RECEIVE_TEXT, received_text.c_str());
        if (received_text == sent_text) {
            break;
        }
    }
    return tries_left != 0 ? "success" : "timeout";
}

} // namespace

void loopback_test(std::intptr_t) {
    gadget_set_text(GADGET_TRANSMIT_TEXT, "");
    gadget_set_text(GADGET_RECEIVE_TEXT, "");
    statusbar_set_text_plain(STATUSBAR_MAIN, 0, "");

    const std::string path = gadget_get_text(GADGET_PORT_COMBO);
    object_number test_port = serial_open(OBJECT_ANY, path.c_str(), 9600, 0, 8, 1.0f, 0, 128, 128);
    if (test_port == 0) {
        statusbar_set_text(STATUSBAR_MAIN, 0, "not able to open selected port", FIELD_CENTRED);
    } else {
        statusbar_set_text(STATUSBAR_MAIN, 0, exchange(test_port), FIELD_CENTRED);
        serial_close(test_port);
    }
    event_post(EVENT_GADGET, static_cast<int>(WINDOW_MAIN), static_cast<int>(GADGET_TEST_DONE));
}
