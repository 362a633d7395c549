// The loopback worker in-process, against the real main window and simulated
// adapters on pseudo-terminals linked in a temporary folder.
#include "app/loopback_test.h"
#include "app/main_event_loop.h"
#include "app/main_window.h"
#include "app/text_list.h"
#include "gui/event_queue.h"
#include "gui/font.h"
#include "gui/gadget.h"
#include "gui/statusbar.h"
#include "gui/window.h"
#include "serial/serial_port.h"
#include "sys/thread.h"
#include "tests/support/descriptor_count.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"

#include <chrono>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class LoopbackWorker : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        serial_init();
        thread_system_init();
        event_queue_init();
        window_init();
        gadget_init();
        statusbar_init();
        font_init();
    }

    void open_window_with(const std::vector<std::string>& ports) {
        TextList list;
        for (const std::string& port : ports) {
            list.add(port);
        }
        build_main_window(list);
    }

    // Starts the worker and serves the window until its completion event.
    // Returns how long the test took.
    Clock::duration run_test() {
        Clock::time_point start = Clock::now();
        EXPECT_NE(thread_create(loopback_test, 0), 0u);
        bool done = false;
        while (!done && Clock::now() - start < 20s) {
            done = event_wait(100) == EVENT_GADGET && event_gadget() == GADGET_TEST_DONE;
        }
        EXPECT_TRUE(done) << "the worker posted no completion event";
        return Clock::now() - start;
    }

    static std::string status_text() {
        GtkWidget* vbox = gtk_bin_get_child(GTK_BIN(window_handle(WINDOW_MAIN)));
        GList* rows = gtk_container_get_children(GTK_CONTAINER(vbox));
        GtkWidget* bar = GTK_WIDGET(g_list_last(rows)->data);
        g_list_free(rows);
        GList* fields = gtk_container_get_children(GTK_CONTAINER(bar));
        GtkWidget* label = gtk_bin_get_child(GTK_BIN(fields->data));
        g_list_free(fields);
        return gtk_label_get_text(GTK_LABEL(label));
    }

    static std::string field(object_number gadget) { return gadget_get_text(gadget); }

    TempFolder folder;
};

TEST_F(LoopbackWorker, EchoSucceedsShowsBothTextsAndClosesThePort) {
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    open_window_with({adapter.link()});
    int descriptors = open_descriptor_count();
    run_test();
    EXPECT_EQ(status_text(), "success");
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), "This is a test!");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "This is a test!");
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST_F(LoopbackWorker, SilenceTimesOutWithTheReceiveFieldEmpty) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    open_window_with({adapter.link()});
    Clock::duration took = run_test();
    EXPECT_EQ(status_text(), "timeout");
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), "This is a test!");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "");
    EXPECT_GE(took, 1s) << "100 empty polls 10 ms apart take at least a second";
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
}

TEST_F(LoopbackWorker, AChangedByteShowsWhatCameAndTimesOut) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--change=4"});
    open_window_with({adapter.link()});
    run_test();
    EXPECT_EQ(status_text(), "timeout");
    std::string expected = "This is a test!";
    expected[4] = static_cast<char>(expected[4] ^ 0x01);
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), expected);
}

TEST_F(LoopbackWorker, AZeroByteBeforeTheEchoAddsNothing) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--before=0"});
    open_window_with({adapter.link()});
    run_test();
    EXPECT_EQ(status_text(), "success");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "This is a test!");
}

TEST_F(LoopbackWorker, ANonZeroByteBeforeTheEchoSpoilsIt) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--before=0x41"});
    open_window_with({adapter.link()});
    run_test();
    EXPECT_EQ(status_text(), "timeout");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "AThis is a test!");
}

TEST_F(LoopbackWorker, AShortWriteIsNotAbleToTransmitAndClosesThePort) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--short-write"});
    open_window_with({adapter.link()});
    run_test();
    EXPECT_EQ(status_text(), "not able to transmit");
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), "");
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
}

TEST_F(LoopbackWorker, AnEmptyChooserCannotOpenAndEveryFieldIsCleared) {
    open_window_with({});
    gadget_set_text(GADGET_TRANSMIT_TEXT, "left from before");
    gadget_set_text(GADGET_RECEIVE_TEXT, "left from before");
    run_test();
    EXPECT_EQ(status_text(), "not able to open selected port");
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), "");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "");
}

TEST_F(LoopbackWorker, ABusThatNeverFallsSilentEndsWithinTheBoundAndKeepsTheFieldBounded) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--flood"});
    open_window_with({adapter.link()});
    Clock::duration took = run_test();
    EXPECT_EQ(status_text(), "timeout");
    EXPECT_LE(field(GADGET_RECEIVE_TEXT).size(), TEST_RECEIVE_LIMIT);
    EXPECT_GE(field(GADGET_RECEIVE_TEXT).size(), 15u);
    EXPECT_LT(took, TEST_TIME_LIMIT + 5s) << "the test must end near its bound";
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
}

TEST_F(LoopbackWorker, ADeviceVanishingMidTestTimesOut) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--vanish-after-bytes=5"});
    open_window_with({adapter.link()});
    run_test();
    EXPECT_EQ(status_text(), "timeout");
}

TEST_F(LoopbackWorker, ShutdownDuringATestLeavesTheWorkerHarmless) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    open_window_with({adapter.link()});
    ASSERT_NE(thread_create(loopback_test, 0), 0u);
    // Let the worker reach its poll loop, then take everything away as the
    // program's shutdown does while the worker goes on.
    Clock::time_point start = Clock::now();
    while (field(GADGET_TRANSMIT_TEXT).empty() && Clock::now() - start < 10s) {
        event_wait(10);
    }
    ASSERT_EQ(field(GADGET_TRANSMIT_TEXT), "This is a test!");
    font_free_all();
    window_close_all();
    serial_close_all();
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
    // The worker finds its window and port gone and still ends and reports.
    bool done = false;
    while (!done && Clock::now() - start < 20s) {
        done = event_wait(100) == EVENT_GADGET && event_gadget() == GADGET_TEST_DONE;
    }
    EXPECT_TRUE(done);
    start = Clock::now();
    while (thread_running_count() != 0 && Clock::now() - start < 5s) {
        event_wait(10);
    }
    EXPECT_EQ(thread_running_count(), 0);
}

// The main loop's state machine: the button is disabled from the click until
// the worker's completion event, and a close request ends the loop.
TEST_F(LoopbackWorker, MainLoopDisablesTheButtonForTheTestAndEndsOnClose) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    open_window_with({adapter.link()});
    GtkWidget* button = nullptr;
    {
        // The button widget, as the gadget layer keeps it.
        GadgetRecord* record = gadget_lookup(GADGET_TEST_BUTTON);
        ASSERT_NE(record, nullptr);
        button = record->widget;
    }
    struct Watch {
        GtkWidget* button;
        Clock::time_point give_up;
        bool seen_disabled = false;
        bool closed = false;
        std::string status_when_enabled;
    } watch{button, Clock::now() + 20s, false, false, {}};
    // A user's click: the button's own handler queues the gadget event.
    gtk_button_clicked(GTK_BUTTON(button));
    // Runs inside the loop's toolkit iterations, under gui_lock like any handler.
    guint source = gdk_threads_add_timeout(
        20,
        [](gpointer data) -> gboolean {
            auto* watch = static_cast<Watch*>(data);
            bool sensitive = gtk_widget_get_sensitive(watch->button);
            watch->seen_disabled = watch->seen_disabled || !sensitive;
            bool late = Clock::now() > watch->give_up;
            if ((watch->seen_disabled && sensitive) || late) {
                watch->status_when_enabled = late ? "(gave up)" : status_text();
                watch->closed = true;
                event_push(EVENT_CLOSE_WINDOW, 0, 0, 0, nullptr, nullptr, 0);
                return FALSE;
            }
            return TRUE;
        },
        &watch);
    main_event_loop();
    if (!watch.closed) {
        g_source_remove(source);
    }
    EXPECT_TRUE(watch.seen_disabled);
    EXPECT_EQ(watch.status_when_enabled, "timeout");
    EXPECT_EQ(event_loop_state().quit_requested, 1);
    EXPECT_EQ(event_loop_state().last_event, EVENT_CLOSE_WINDOW);
}

} // namespace
