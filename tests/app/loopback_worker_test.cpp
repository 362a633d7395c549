// The loopback worker in-process, against the real main window and simulated
// adapters on pseudo-terminals linked in a temporary folder; and the main loop
// that starts it.
#include "app/core/loopback_exchange.h"
#include "app/loopback_worker.h"
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
#include "tests/support/gui_waits.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/thread_refusal.h"
#include "tests/support/toolkit_checks.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string TEXT = TEST_TEXT;

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
        TakenEvent done = take_event_until(
            [](const TakenEvent& e) {
                return e.code == EVENT_GADGET && e.object == GADGET_TEST_DONE;
            },
            20);
        EXPECT_EQ(done.code, EVENT_GADGET) << "the worker posted no completion event";
        return Clock::now() - start;
    }

    static std::string status_text() {
        GtkWidget* vbox = gtk_bin_get_child(GTK_BIN(window_handle(WINDOW_MAIN)));
        GtkWidget* bar = children_of(vbox).back();
        GtkWidget* label = gtk_bin_get_child(GTK_BIN(nth_child(bar, 0)));
        return gtk_label_get_text(GTK_LABEL(label));
    }

    static std::string field(object_number gadget) { return gadget_get_text(gadget); }

    static GtkWidget* test_button() {
        GadgetRecord* record = gadget_lookup(GADGET_TEST_BUTTON);
        return record != nullptr ? record->widget : nullptr;
    }

    TempFolder folder;
};

std::string with_byte_flipped(std::size_t position) {
    std::string text = TEXT;
    text[position] = static_cast<char>(text[position] ^ 0x01);
    return text;
}

// One way a test can end: the simulator's options and what the window shows.
struct Verdict {
    const char* name;
    std::vector<std::string> options;
    std::string status;
    std::string transmitted;
    std::string received;
    // The device goes mid-echo: what came is a beginning of received.
    bool received_in_part = false;
};

// What the window alone shows of each way an exchange ends; the exchange's own
// verdicts, bounds and timing are tested on their own (tests/app_core).
const Verdict VERDICTS[] = {
    {"Echo", {}, "success", TEXT, TEXT},
    {"AChangedByte", {"--change=4"}, "timeout", TEXT, with_byte_flipped(4)},
    {"AShortWrite", {"--short-write"}, "not able to transmit", "", ""},
    // The window keeps its verdict when the device goes; only the doctor says why.
    {"ADeviceVanishingMidEcho", {"--vanish-after-bytes=5"}, "timeout", TEXT, TEXT, true},
};

// CTest lists a row by its name, not as a dump of its bytes.
void PrintTo(const Verdict& row, std::ostream* out) {
    *out << row.name;
}

class LoopbackVerdict : public LoopbackWorker, public testing::WithParamInterface<Verdict> {};

TEST_P(LoopbackVerdict, ShowsTheVerdictAndBothTextsAndClosesThePort) {
    const Verdict& row = GetParam();
    SimulatedAdapter adapter(unique_device_link(folder.path()), row.options);
    ASSERT_TRUE(adapter.ready());
    open_window_with({adapter.link()});
    int descriptors = open_descriptor_count();
    run_test();
    EXPECT_EQ(status_text(), row.status);
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), row.transmitted);
    if (row.received_in_part) {
        EXPECT_TRUE(row.received.starts_with(field(GADGET_RECEIVE_TEXT)));
        EXPECT_LE(field(GADGET_RECEIVE_TEXT).size(), 5u);
    } else {
        EXPECT_EQ(field(GADGET_RECEIVE_TEXT), row.received);
    }
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Rows, LoopbackVerdict, testing::ValuesIn(VERDICTS),
                         [](const testing::TestParamInfo<Verdict>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LoopbackWorker, AnEmptyChooserCannotOpenAndEveryFieldIsCleared) {
    open_window_with({});
    gadget_set_text(GADGET_TRANSMIT_TEXT, "left from before");
    gadget_set_text(GADGET_RECEIVE_TEXT, "left from before");
    run_test();
    EXPECT_EQ(status_text(), "not able to open selected port");
    EXPECT_EQ(field(GADGET_TRANSMIT_TEXT), "");
    EXPECT_EQ(field(GADGET_RECEIVE_TEXT), "");
}

TEST_F(LoopbackWorker, ABusThatNeverFallsSilentIsCutOffWithinFiveSecondsWithABoundedField) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--flood"});
    ASSERT_TRUE(adapter.ready());
    open_window_with({adapter.link()});
    Clock::duration took = run_test();
    EXPECT_EQ(status_text(), "timeout");
    EXPECT_LE(field(GADGET_RECEIVE_TEXT).size(), 256u);
    EXPECT_GE(field(GADGET_RECEIVE_TEXT).size(), 15u);
    // A fixed figure, not the code's constant: five seconds after the write,
    // with room for a slow or sanitized build. (Empty polls add up over the
    // whole test, so a loaded machine may end it sooner.)
    EXPECT_LT(took, 8s) << "the bus must be cut off five seconds after the write";
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
}

TEST_F(LoopbackWorker, ShutdownDuringATestLeavesTheWorkerHarmless) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    ASSERT_TRUE(adapter.ready());
    open_window_with({adapter.link()});
    ASSERT_NE(thread_create(loopback_test, 0), 0u);
    // Let the worker reach its poll loop, then take everything away as the
    // program's shutdown does while the worker goes on.
    ASSERT_TRUE(run_toolkit_until([] { return field(GADGET_TRANSMIT_TEXT) == TEXT; }));
    font_free_all();
    window_close_all();
    serial_close_all();
    EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
    // The worker finds its window and port gone and still ends and reports.
    EXPECT_EQ(take_event_until(
                  [](const TakenEvent& e) {
                      return e.code == EVENT_GADGET && e.object == GADGET_TEST_DONE;
                  },
                  20)
                  .code,
              EVENT_GADGET);
    EXPECT_TRUE(run_toolkit_until([] { return thread_running_count() == 0; }));
}

// The main loop's state machine, watched from a toolkit timeout inside the
// loop's own iterations (under gui_lock like any handler). Each step is called
// every 20 ms until it returns true; after the last the window is closed.
struct LoopWatch {
    std::vector<std::function<bool()>> steps;
    std::size_t next = 0;
    Clock::time_point give_up = Clock::now() + 20s;
    bool gave_up = false;
};

void run_main_loop_with(LoopWatch& watch) {
    gdk_threads_add_timeout(
        20,
        [](gpointer data) -> gboolean {
            auto* watch = static_cast<LoopWatch*>(data);
            while (watch->next < watch->steps.size() && watch->steps[watch->next]()) {
                ++watch->next;
            }
            watch->gave_up = Clock::now() > watch->give_up;
            if (watch->next < watch->steps.size() && !watch->gave_up) {
                return TRUE;
            }
            event_push(EVENT_CLOSE_WINDOW, 0, 0, 0, nullptr, nullptr, 0);
            return FALSE;
        },
        &watch);
    main_event_loop();
    EXPECT_FALSE(watch.gave_up) << "stuck before step " << watch.next;
    EXPECT_EQ(event_loop_state().quit_requested, 1);
    EXPECT_EQ(event_loop_state().last_event, EVENT_CLOSE_WINDOW);
}

// A press whose worker cannot start leaves the button enabled and the loop
// going; the next press starts a test, which disables the button until its
// completion event; a close request ends the loop.
TEST_F(LoopbackWorker, MainLoopDisablesTheButtonOnlyWhileATestRunsAndEndsOnClose) {
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    ASSERT_TRUE(adapter.ready());
    open_window_with({adapter.link()});
    GtkWidget* button = test_button();
    ASSERT_NE(button, nullptr);
    std::string status_before = status_text();
    std::string refusal_failure = ThreadRefusal().failure();
    auto refusal = refusal_failure.empty() ? std::make_unique<ThreadRefusal>() : nullptr;
    // A user's click: the button's own handler queues the gadget event.
    gtk_button_clicked(GTK_BUTTON(button));
    LoopWatch watch;
    watch.steps = {
        // The click was taken; if it was refused nothing runs and the button stays.
        [&] {
            if (refusal) {
                EXPECT_TRUE(gtk_widget_get_sensitive(button));
                EXPECT_EQ(thread_running_count(), 0);
                EXPECT_EQ(status_text(), status_before);
                EXPECT_EQ(descriptors_open_on(adapter.slave()), 0);
                refusal.reset();
                gtk_button_clicked(GTK_BUTTON(button));
            }
            return true;
        },
        [&] { return !gtk_widget_get_sensitive(button); },
        [&] { return gtk_widget_get_sensitive(button); },
    };
    run_main_loop_with(watch);
    EXPECT_EQ(status_text(), "timeout");
    if (!refusal_failure.empty()) {
        GTEST_SKIP() << "a refused thread was not tried: " << refusal_failure;
    }
}

} // namespace
