#include "app/loopback_worker.h"

#include "app/main_window.h"
#include "gui/event_queue.h"
#include "gui/gadget.h"
#include "gui/statusbar.h"
#include "serial/serial_port.h"

#include <string>

namespace {

// The exchange as the window shows it: the transmit field once the text went
// out, the receive field with every byte.
class WindowFields : public LoopbackObserver {
  public:
    void sent(const std::string& sent_text) override {
        gadget_set_text(GADGET_TRANSMIT_TEXT, sent_text.c_str());
    }
    void received(const std::string& received_text) override {
        gadget_set_text(GADGET_RECEIVE_TEXT, received_text.c_str());
    }
};

} // namespace

void loopback_test(std::intptr_t) {
    gadget_set_text(GADGET_TRANSMIT_TEXT, "");
    gadget_set_text(GADGET_RECEIVE_TEXT, "");
    statusbar_set_text_plain(STATUSBAR_MAIN, 0, "");

    const std::string path = gadget_get_text(GADGET_PORT_COMBO);
    object_number test_port = loopback_open(OBJECT_ANY, path.c_str());
    if (test_port == 0) {
        statusbar_set_text(STATUSBAR_MAIN, 0,
                           loopback_verdict_text(LoopbackVerdict::not_able_to_open), FIELD_CENTRED);
    } else {
        WindowFields fields;
        LoopbackResult result = loopback_exchange(test_port, &fields);
        statusbar_set_text(STATUSBAR_MAIN, 0, loopback_verdict_text(result.verdict), FIELD_CENTRED);
        // The window shows the exchange's verdict only; a line that did not
        // go back is found as it is by the next test's opening.
        (void)serial_close(test_port);
    }
    event_post(EVENT_GADGET, static_cast<int>(WINDOW_MAIN), static_cast<int>(GADGET_TEST_DONE));
}
