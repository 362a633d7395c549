#include "gui/statusbar.h"

#include "gui/event_queue.h"
#include "gui/window.h"
#include "tests/support/gui_waits.h"
#include "tests/support/wait_until.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include "tests/support/toolkit_checks.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

GtkWidget* frame_of(GtkWidget* bar, int field) {
    return nth_child(bar, field);
}

GtkWidget* label_of(GtkWidget* bar, int field) {
    return gtk_bin_get_child(GTK_BIN(frame_of(bar, field)));
}

std::string text_of(GtkWidget* bar) {
    return gtk_label_get_text(GTK_LABEL(label_of(bar, 0)));
}

float x_alignment(GtkWidget* bar) {
    float x = -1;
    float y = -1;
    gtk_misc_get_alignment(GTK_MISC(label_of(bar, 0)), &x, &y);
    EXPECT_FLOAT_EQ(y, 0.5F);
    return x;
}

GtkShadowType border_of(GtkWidget* bar) {
    return gtk_frame_get_shadow_type(GTK_FRAME(frame_of(bar, 0)));
}

class StatusbarTest : public testing::Test {
  protected:
    void SetUp() override {
        event_queue_init();
        window_init();
        statusbar_init();
    }
    void TearDown() override { window_close(-1); }

    // A program window (window_open's widget tree) with a bar of that number.
    static GtkWidget* bar_in_new_window(object_number number, int width) {
        window_open(number, 0, 0, width, 120, "status bar test", WINDOW_SCREEN_CENTERED);
        return reinterpret_cast<GtkWidget*>(statusbar_create(number, window_handle(number)));
    }
};

TEST_F(StatusbarTest, OneFieldIsAsWideAsAskedAtLeast22HighSunkenLeftAlignedAndEmpty) {
    GtkWidget* bar = bar_in_new_window(0, 400);
    ASSERT_TRUE(GTK_IS_HBOX(bar));
    GtkWidget* content_box = gtk_bin_get_child(GTK_BIN(window_handle(0)));
    EXPECT_EQ(nth_child(content_box, 1), bar); // after the gadget area
    statusbar_add_field(300);

    // The empty label is measured unparented, in the toolkit's default style.
    GtkWidget* probe = g_object_ref_sink(gtk_label_new(""));
    GtkRequisition natural{};
    gtk_widget_size_request(probe, &natural);
    g_object_unref(probe);
    int width = 0;
    int height = 0;
    gtk_widget_get_size_request(frame_of(bar, 0), &width, &height);
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, natural.height <= 15 ? 22 : natural.height + 6);
    EXPECT_EQ(border_of(bar), GTK_SHADOW_IN);
    EXPECT_EQ(text_of(bar), "");
    EXPECT_FLOAT_EQ(x_alignment(bar), 0.0F);
    ASSERT_TRUE(run_toolkit_until([&] { return frame_of(bar, 0)->allocation.width > 1; }));
    EXPECT_EQ(frame_of(bar, 0)->allocation.width, 300);
    EXPECT_GE(frame_of(bar, 0)->allocation.height, 22);
}

TEST_F(StatusbarTest, WidthsAreClampedAndFillTakesTheRest) {
    GtkWidget* wide = bar_in_new_window(1, 300);
    statusbar_add_field(10000);
    statusbar_add_field(8192);
    statusbar_add_field(-5); // refused by the toolkit as it stands: natural width
    int widths[3] = {};
    int height = 0;
    for (int field = 0; field < 3; ++field) {
        gtk_widget_get_size_request(frame_of(wide, field), &widths[field], &height);
    }
    EXPECT_EQ(widths[0], 8192);
    EXPECT_EQ(widths[1], 8192);
    EXPECT_EQ(widths[2], -1);
    EXPECT_GE(height, 22);

    GtkWidget* bar = bar_in_new_window(0, 500);
    statusbar_add_field(100);
    statusbar_add_field(FIELD_FILL);
    statusbar_add_field(50);
    ASSERT_TRUE(run_toolkit_until([&] { return frame_of(bar, 2)->allocation.width == 50; }));
    EXPECT_EQ(frame_of(bar, 0)->allocation.width, 100);
    // Each field has 2 pixels of padding on either side.
    EXPECT_EQ(frame_of(bar, 1)->allocation.width, bar->allocation.width - 100 - 50 - 3 * 4);
}

TEST_F(StatusbarTest, EverySetSetsTextAlignmentAndBorderAndMissingFieldsChangeNothing) {
    GtkWidget* bar = bar_in_new_window(0, 400);
    statusbar_add_field(300);
    const struct {
        const char* text;
        int flags;
        float alignment;
        GtkShadowType border;
    } looks[] = {
        {"not tested", FIELD_CENTRED, 0.5F, GTK_SHADOW_IN},
        {"a", FIELD_SHADOW_OUT | FIELD_SHADOW_NONE, 0.0F, GTK_SHADOW_NONE},
        {"b", FIELD_SHADOW_OUT | FIELD_RIGHT, 1.0F, GTK_SHADOW_OUT},
        {"c", FIELD_CENTRED | FIELD_RIGHT, 0.5F, GTK_SHADOW_IN},
        {"d", FIELD_SHADOW_NONE | FIELD_CENTRED, 0.5F, GTK_SHADOW_NONE},
    };
    for (const auto& look : looks) {
        statusbar_set_text(0, 0, look.text, look.flags);
        EXPECT_EQ(text_of(bar), look.text);
        EXPECT_FLOAT_EQ(x_alignment(bar), look.alignment) << look.text;
        EXPECT_EQ(border_of(bar), look.border) << look.text;
    }
    statusbar_set_text_plain(0, 0, "");
    EXPECT_EQ(text_of(bar), "");
    EXPECT_FLOAT_EQ(x_alignment(bar), 0.0F);
    EXPECT_EQ(border_of(bar), GTK_SHADOW_IN);
    statusbar_set_text_plain(0, 0, "5 \xA4"); // ISO-8859-15 euro sign
    EXPECT_EQ(text_of(bar), "5 \xE2\x82\xAC");

    statusbar_set_text(0, 0, "kept", FIELD_CENTRED | FIELD_SHADOW_NONE);
    for (int field : {1, -1, 1000}) {
        statusbar_set_text(0, field, "lost", 0);
    }
    statusbar_set_text(7, 0, "lost", 0);
    EXPECT_EQ(nth_child(bar, 1), nullptr);
    EXPECT_EQ(text_of(bar), "kept");
    EXPECT_FLOAT_EQ(x_alignment(bar), 0.5F);
    EXPECT_EQ(border_of(bar), GTK_SHADOW_NONE);
}

TEST_F(StatusbarTest, ReleasingOrClosingTheWindowEndsTheBar) {
    GtkWidget* bar = bar_in_new_window(0, 300);
    g_object_add_weak_pointer(G_OBJECT(bar), reinterpret_cast<gpointer*>(&bar));
    statusbar_add_field(100);
    statusbar_release(0);
    EXPECT_EQ(bar, nullptr);
    statusbar_set_text_plain(0, 0, "gone");
    statusbar_add_field(100); // the bar under construction has gone too

    object_number automatic = statusbar_create(OBJECT_ANY, window_handle(0));
    ASSERT_LT(automatic, -1);
    GtkWidget* replaced = reinterpret_cast<GtkWidget*>(statusbar_create(1, window_handle(0)));
    g_object_add_weak_pointer(G_OBJECT(replaced), reinterpret_cast<gpointer*>(&replaced));
    GtkWidget* replacement = reinterpret_cast<GtkWidget*>(statusbar_create(1, window_handle(0)));
    EXPECT_EQ(replaced, nullptr);
    statusbar_add_field(100);
    statusbar_set_text_plain(1, 0, "new");
    EXPECT_EQ(text_of(replacement), "new");
    window_close(0);
    statusbar_set_text_plain(1, 0, "gone");
    statusbar_set_text_plain(automatic, 0, "gone");
    statusbar_add_field(100);

    GtkWidget* fresh = bar_in_new_window(1, 300);
    statusbar_add_field(100);
    statusbar_set_text_plain(1, 0, "fresh");
    EXPECT_EQ(text_of(fresh), "fresh");
    statusbar_release(-1);
    EXPECT_EQ(nth_child(gtk_bin_get_child(GTK_BIN(window_handle(1))), 1), nullptr);
}

TEST_F(StatusbarTest, AWorkerSetsTheTextWhileTheMainThreadWaitsForEvents) {
    GtkWidget* bar = bar_in_new_window(0, 300);
    statusbar_add_field(FIELD_FILL);
    std::thread worker([] {
        statusbar_set_text_plain(0, 0, "");
        statusbar_set_text(0, 0, "success", FIELD_CENTRED);
        event_post(EVENT_GADGET, 0, 7);
    });
    bool finished = take_event_until([](const TakenEvent& e) {
                        return e.code == EVENT_GADGET && e.object == 7;
                    }).code == EVENT_GADGET;
    join_without_gui_lock(worker);
    ASSERT_TRUE(finished);
    EXPECT_EQ(text_of(bar), "success");
    EXPECT_FLOAT_EQ(x_alignment(bar), 0.5F);
}

// Whether the thread sleeps in a futex wait, as it does while it waits for
// gui_lock held by this thread.
bool waits_on_a_lock(pid_t thread) {
    std::ifstream calls("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    calls >> number;
    return calls && number == SYS_futex;
}

TEST_F(StatusbarTest, ABarDestroyedWhileAWorkerWaitsForTheLockIsLeftAlone) {
    bar_in_new_window(0, 300);
    statusbar_add_field(300);
    GtkWidget* survivor = bar_in_new_window(1, 300);
    statusbar_add_field(300);
    statusbar_set_text_plain(1, 0, "untouched");

    std::atomic<pid_t> worker_id{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        worker_id = static_cast<pid_t>(syscall(SYS_gettid));
        statusbar_set_text(0, 0, "too late", FIELD_CENTRED);
        done = true;
        g_main_context_wakeup(nullptr);
    });
    // This thread holds gui_lock, so the worker's call stops at the lock.
    bool was_waiting = wait_until([&] { return worker_id != 0 && waits_on_a_lock(worker_id); });
    window_close(0);
    bool finished = run_toolkit_until([&] { return done.load(); });
    join_without_gui_lock(worker);
    ASSERT_TRUE(was_waiting);
    ASSERT_TRUE(finished);
    EXPECT_EQ(text_of(survivor), "untouched");
}

} // namespace
