#include "gui/statusbar.h"

#include "gui/event_queue.h"
#include "gui/text_encoding.h"
#include "gui/window.h"
#include "tests/support/toolkit_checks.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs toolkit iterations (each releases gui_lock while it blocks) until the
// condition holds or the deadline passes; a ticking timeout keeps the loop
// looking at the clock.
template <typename Condition> bool iterate_until(Condition condition, Clock::duration limit = 10s) {
    guint tick = g_timeout_add(
        20, [](gpointer) -> gboolean { return TRUE; }, nullptr);
    auto deadline = Clock::now() + limit;
    while (!condition() && Clock::now() < deadline) {
        gtk_main_iteration();
    }
    g_source_remove(tick);
    return condition();
}

void settle() {
    while (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
    }
}

class StatusbarTest : public testing::Test {
  protected:
    void SetUp() override { statusbar_init(); }
    void TearDown() override {
        statusbar_release(-1);
        for (GtkWidget* window : windows) {
            if (window != nullptr) {
                gtk_widget_destroy(window);
            }
        }
        settle();
    }

    // The tree a window gets from window_open: a toplevel holding a vbox whose
    // first child is the fixed gadget area; extra children come after it.
    GtkWidget* open_window(int width, int extra_children = 0) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), "status bar test");
        gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
        gtk_widget_set_size_request(window, width, 120);
        GtkWidget* vbox = gtk_vbox_new(FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), vbox);
        GtkWidget* area = gtk_fixed_new();
        gtk_fixed_set_has_window(GTK_FIXED(area), TRUE);
        gtk_box_pack_start(GTK_BOX(vbox), area, TRUE, TRUE, 0);
        for (int i = 0; i < extra_children; ++i) {
            gtk_box_pack_start(GTK_BOX(vbox), gtk_label_new("extra"), FALSE, FALSE, 0);
        }
        gtk_widget_show_all(window);
        windows.push_back(window);
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&windows.back()));
        return window;
    }

    static GtkWidget* content_box(GtkWidget* window) { return gtk_bin_get_child(GTK_BIN(window)); }

    static GtkWidget* field_frame(GtkWidget* hbox, int field) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(hbox));
        auto* frame = static_cast<GtkWidget*>(g_list_nth_data(children, field));
        g_list_free(children);
        return frame;
    }

    static GtkWidget* field_label(GtkWidget* hbox, int field) {
        GtkWidget* frame = field_frame(hbox, field);
        return frame != nullptr ? gtk_bin_get_child(GTK_BIN(frame)) : nullptr;
    }

    static float x_alignment(GtkWidget* label) {
        float x = -1;
        float y = -1;
        gtk_misc_get_alignment(GTK_MISC(label), &x, &y);
        EXPECT_FLOAT_EQ(y, 0.5F);
        return x;
    }

    static std::string text_of(GtkWidget* label) { return gtk_label_get_text(GTK_LABEL(label)); }

    static GtkShadowType border_of(GtkWidget* hbox, int field) {
        return gtk_frame_get_shadow_type(GTK_FRAME(field_frame(hbox, field)));
    }

    // Weak pointers, cleared when a window goes; a deque keeps them in place.
    std::deque<GtkWidget*> windows;
};

// Child count of a container.
int child_count(GtkWidget* container) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(container));
    int count = static_cast<int>(g_list_length(children));
    g_list_free(children);
    return count;
}

int child_index(GtkWidget* container, GtkWidget* child) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(container));
    int index = g_list_index(children, child);
    g_list_free(children);
    return index;
}

TEST_F(StatusbarTest, OneFieldIsAsWideAsAskedAtLeast22HighSunkenLeftAlignedAndEmpty) {
    GtkWidget* window = open_window(400);
    object_number result = statusbar_create(0, window);
    ASSERT_NE(result, 0);
    auto* hbox = reinterpret_cast<GtkWidget*>(result);
    ASSERT_TRUE(GTK_IS_HBOX(hbox));
    EXPECT_EQ(gtk_widget_get_parent(hbox), content_box(window));
    EXPECT_TRUE(gtk_widget_get_visible(hbox));
    statusbar_add_field(300);

    ASSERT_EQ(child_count(hbox), 1);
    GtkWidget* frame = field_frame(hbox, 0);
    ASSERT_TRUE(GTK_IS_FRAME(frame));
    GtkWidget* label = field_label(hbox, 0);
    ASSERT_TRUE(GTK_IS_LABEL(label));
    EXPECT_TRUE(gtk_widget_get_visible(frame));
    EXPECT_TRUE(gtk_widget_get_visible(label));
    int width = 0;
    int height = 0;
    gtk_widget_get_size_request(frame, &width, &height);
    EXPECT_EQ(width, 300);
    EXPECT_GE(height, 22);
    EXPECT_EQ(gtk_frame_get_shadow_type(GTK_FRAME(frame)), GTK_SHADOW_IN);
    EXPECT_EQ(text_of(label), "");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.0F);
    EXPECT_EQ(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(frame), "wg_statusbar_max")), 100);

    gboolean expand = TRUE;
    gboolean fill = TRUE;
    guint padding = 0;
    GtkPackType pack = GTK_PACK_END;
    gtk_box_query_child_packing(GTK_BOX(hbox), frame, &expand, &fill, &padding, &pack);
    EXPECT_FALSE(expand);
    EXPECT_FALSE(fill);
    EXPECT_EQ(padding, 2u);
    EXPECT_EQ(pack, GTK_PACK_START);

    ASSERT_TRUE(iterate_until([&] { return frame->allocation.width > 1; }));
    EXPECT_EQ(frame->allocation.width, 300);
    EXPECT_GE(frame->allocation.height, 22);
}

TEST_F(StatusbarTest, FieldIsSixPixelsHigherThanAnEmptyLabelButNeverBelow22) {
    // An unparented label has the toolkit's default style, whatever the theme.
    GtkWidget* probe = gtk_label_new("");
    g_object_ref_sink(probe);
    GtkRequisition natural{};
    gtk_widget_size_request(probe, &natural);
    g_object_unref(probe);
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(400)));
    statusbar_add_field(50);
    int width = 0;
    int height = 0;
    gtk_widget_get_size_request(field_frame(hbox, 0), &width, &height);
    EXPECT_EQ(height, natural.height <= 15 ? 22 : natural.height + 6);
}

TEST_F(StatusbarTest, WidthsAreClampedAndFillStretchesOverTheRest) {
    GtkWidget* wide = open_window(300);
    auto* wide_bar = reinterpret_cast<GtkWidget*>(statusbar_create(1, wide));
    statusbar_add_field(10000);
    statusbar_add_field(8192);
    statusbar_add_field(-5);
    int widths[3] = {};
    int height = 0;
    for (int field = 0; field < 3; ++field) {
        gtk_widget_get_size_request(field_frame(wide_bar, field), &widths[field], &height);
    }
    EXPECT_EQ(widths[0], 8192);
    EXPECT_EQ(widths[1], 8192);
    EXPECT_EQ(widths[2], -1);
    EXPECT_GE(height, 22);

    GtkWidget* window = open_window(500);
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, window));
    statusbar_add_field(100);
    statusbar_add_field(FIELD_FILL);
    statusbar_add_field(50);
    GtkWidget* fill_frame = field_frame(hbox, 1);
    gboolean expand = FALSE;
    gboolean fill = FALSE;
    gtk_box_query_child_packing(GTK_BOX(hbox), fill_frame, &expand, &fill, nullptr, nullptr);
    EXPECT_TRUE(expand);
    EXPECT_TRUE(fill);
    ASSERT_TRUE(iterate_until([&] { return hbox->allocation.width >= 500; }));
    ASSERT_TRUE(iterate_until([&] { return field_frame(hbox, 2)->allocation.width == 50; }));
    EXPECT_EQ(field_frame(hbox, 0)->allocation.width, 100);
    EXPECT_EQ(fill_frame->allocation.width, hbox->allocation.width - 100 - 50 - 3 * 4);
}

TEST_F(StatusbarTest, BarGoesToPosition3OfTheContentBoxOrItsEnd) {
    GtkWidget* crowded = open_window(300, 4);
    auto* crowded_bar = reinterpret_cast<GtkWidget*>(statusbar_create(0, crowded));
    EXPECT_EQ(child_index(content_box(crowded), crowded_bar), 3);
    GtkWidget* plain = open_window(300);
    auto* plain_bar = reinterpret_cast<GtkWidget*>(statusbar_create(1, plain));
    EXPECT_EQ(child_index(content_box(plain), plain_bar), 1);
}

TEST_F(StatusbarTest, EverySetSetsTextAlignmentAndBorder) {
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(400)));
    statusbar_add_field(300);
    GtkWidget* label = field_label(hbox, 0);

    statusbar_set_text(0, 0, "not tested", FIELD_CENTRED);
    EXPECT_EQ(text_of(label), "not tested");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.5F);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_IN);

    statusbar_set_text(0, 0, "a", FIELD_SHADOW_OUT | FIELD_SHADOW_NONE);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_NONE);
    EXPECT_FLOAT_EQ(x_alignment(label), 0.0F);
    statusbar_set_text(0, 0, "b", FIELD_SHADOW_OUT | FIELD_RIGHT);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_OUT);
    EXPECT_FLOAT_EQ(x_alignment(label), 1.0F);
    statusbar_set_text(0, 0, "c", FIELD_CENTRED | FIELD_RIGHT);
    EXPECT_FLOAT_EQ(x_alignment(label), 0.5F);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_IN);

    statusbar_set_text(0, 0, "d", FIELD_SHADOW_NONE | FIELD_CENTRED);
    statusbar_set_text_plain(0, 0, "");
    EXPECT_EQ(text_of(label), "");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.0F);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_IN);

    statusbar_set_text_plain(0, 0, "price 5 \xA4");
    EXPECT_EQ(text_of(label), "price 5 \xE2\x82\xAC");
    statusbar_set_text_plain(0, 0, nullptr);
    EXPECT_EQ(text_of(label), "");
    EXPECT_EQ(field_label(hbox, 0), label);
}

TEST_F(StatusbarTest, FieldsAndBarsThatDoNotExistChangeNothing) {
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(400)));
    statusbar_add_field(300);
    statusbar_set_text(0, 0, "kept", FIELD_CENTRED | FIELD_SHADOW_NONE);
    GtkWidget* label = field_label(hbox, 0);

    statusbar_set_text(0, 1, "lost", 0);
    statusbar_set_text(0, -1, "lost", 0);
    statusbar_set_text(0, 1000, "lost", 0);
    statusbar_set_text(7, 0, "lost", 0);
    statusbar_set_text(-12345, 0, "lost", 0);
    EXPECT_EQ(child_count(hbox), 1);
    EXPECT_EQ(text_of(label), "kept");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.5F);
    EXPECT_EQ(border_of(hbox, 0), GTK_SHADOW_NONE);
}

TEST_F(StatusbarTest, AFieldWhoseLabelWasReplacedGetsANewLabel) {
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(400)));
    statusbar_add_field(300);
    GtkWidget* frame = field_frame(hbox, 0);
    gtk_widget_destroy(gtk_bin_get_child(GTK_BIN(frame)));
    gtk_container_add(GTK_CONTAINER(frame), gtk_button_new());

    statusbar_set_text(0, 0, "fresh", FIELD_RIGHT);
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(frame));
    ASSERT_TRUE(GTK_IS_LABEL(label));
    EXPECT_EQ(text_of(label), "fresh");
    EXPECT_TRUE(gtk_widget_get_visible(label));
    EXPECT_FLOAT_EQ(x_alignment(label), 1.0F);

    gtk_widget_destroy(label);
    statusbar_set_text(0, 0, "nowhere", 0); // an empty frame is left alone
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(frame)), nullptr);
}

TEST_F(StatusbarTest, AutomaticNumbersNameTheirBars) {
    object_number first = statusbar_create(OBJECT_ANY, open_window(300));
    statusbar_add_field(100);
    object_number second = statusbar_create(OBJECT_ANY, open_window(300));
    statusbar_add_field(100);
    ASSERT_LT(first, -1);
    ASSERT_LT(second, -1);
    ASSERT_NE(first, second);
    statusbar_set_text_plain(first, 0, "one");
    statusbar_set_text_plain(second, 0, "two");
    GtkWidget* first_box = gtk_bin_get_child(GTK_BIN(windows[0]));
    GList* children = gtk_container_get_children(GTK_CONTAINER(first_box));
    auto* first_bar = static_cast<GtkWidget*>(g_list_last(children)->data);
    g_list_free(children);
    EXPECT_EQ(text_of(field_label(first_bar, 0)), "one");
}

TEST_F(StatusbarTest, ReleaseAndWindowDestructionEndTheBar) {
    GtkWidget* window = open_window(300);
    GtkWidget* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, window));
    g_object_add_weak_pointer(G_OBJECT(hbox), reinterpret_cast<gpointer*>(&hbox));
    statusbar_add_field(100);
    statusbar_release(0);
    EXPECT_EQ(hbox, nullptr);
    EXPECT_EQ(child_count(content_box(window)), 1);
    statusbar_set_text_plain(0, 0, "gone"); // nothing left to change
    statusbar_add_field(100);               // the bar under construction is gone too
    statusbar_release(0);

    hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, window));
    statusbar_add_field(100);
    gtk_widget_destroy(window);
    EXPECT_EQ(windows[0], nullptr);
    statusbar_set_text_plain(0, 0, "gone");
    statusbar_add_field(100);

    GtkWidget* other = open_window(300);
    object_number automatic = statusbar_create(OBJECT_ANY, other);
    GtkWidget* replaced = reinterpret_cast<GtkWidget*>(statusbar_create(1, other));
    g_object_add_weak_pointer(G_OBJECT(replaced), reinterpret_cast<gpointer*>(&replaced));
    GtkWidget* replacement = reinterpret_cast<GtkWidget*>(statusbar_create(1, other));
    EXPECT_EQ(replaced, nullptr);
    EXPECT_EQ(gtk_widget_get_parent(replacement), content_box(other));
    statusbar_add_field(100);
    statusbar_set_text_plain(1, 0, "new");
    EXPECT_EQ(text_of(field_label(replacement, 0)), "new");

    statusbar_release(-1);
    EXPECT_EQ(child_count(content_box(other)), 1);
    statusbar_set_text_plain(automatic, 0, "gone");
    statusbar_set_text_plain(1, 0, "gone");
}

TEST_F(StatusbarTest, CreateRefusesWhatIsNotAWindowWithAContentBox) {
    EXPECT_EQ(statusbar_create(0, nullptr), 0);
    GtkWidget* empty = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    EXPECT_EQ(statusbar_create(0, empty), 0);
    gtk_widget_destroy(empty);
    EXPECT_EQ(statusbar_create(-5, open_window(300)), 0);
    EXPECT_EQ(child_count(content_box(windows.back())), 1);
}

TEST_F(StatusbarTest, AThreadWithoutABarAddsNoField) {
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(300)));
    std::thread builder([] { statusbar_add_field(100); });
    builder.join();
    EXPECT_EQ(child_count(hbox), 0);
}

TEST_F(StatusbarTest, WorkerSetsTheTextWhileTheMainThreadWaitsInTheToolkit) {
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, open_window(400)));
    statusbar_add_field(FIELD_FILL);
    GtkWidget* label = field_label(hbox, 0);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        statusbar_set_text(0, 0, "success", FIELD_CENTRED);
        done = true;
        g_main_context_wakeup(nullptr);
    });
    bool finished = iterate_until([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(text_of(label), "success");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.5F);
    // The worker released everything it took: the main thread still holds
    // gui_lock at depth one and another thread can take it while it waits.
    std::atomic<bool> second{false};
    std::thread again([&] {
        statusbar_set_text_plain(0, 0, "");
        second = true;
        g_main_context_wakeup(nullptr);
    });
    finished = iterate_until([&] { return second.load(); });
    again.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(text_of(label), "");
}

TEST_F(StatusbarTest, OnAProgramWindowAWorkerSetsTheTextWhileTheMainThreadWaitsForEvents) {
    event_queue_init();
    window_init();
    ASSERT_NE(window_open(0, 0, 0, 300, 150, "status bar window",
                          WINDOW_SCREEN_CENTERED | WINDOW_SYSTEM_MENU),
              0);
    GtkWidget* window = window_handle(0);
    auto* hbox = reinterpret_cast<GtkWidget*>(statusbar_create(0, window));
    statusbar_add_field(FIELD_FILL);
    statusbar_set_text(0, 0, "not tested", FIELD_CENTRED);
    EXPECT_EQ(child_index(content_box(window), hbox), 1);

    std::thread worker([] {
        statusbar_set_text_plain(0, 0, "");
        statusbar_set_text(0, 0, "success", FIELD_CENTRED);
        event_post(EVENT_GADGET, 0, 7);
    });
    bool finished = false;
    auto deadline = Clock::now() + 10s;
    while (!finished && Clock::now() < deadline) {
        finished = event_wait(500) == EVENT_GADGET && event_gadget() == 7;
    }
    worker.join();
    ASSERT_TRUE(finished);
    GtkWidget* label = field_label(hbox, 0);
    EXPECT_EQ(text_of(label), "success");
    EXPECT_FLOAT_EQ(x_alignment(label), 0.5F);

    window_close(0);
    statusbar_set_text_plain(0, 0, "closed"); // the bar went with its window
    ASSERT_NE(window_open(0, 0, 0, 300, 150, "status bar window", 0), 0);
    auto* again = reinterpret_cast<GtkWidget*>(statusbar_create(0, window_handle(0)));
    statusbar_add_field(100);
    statusbar_set_text_plain(0, 0, "again");
    EXPECT_EQ(text_of(field_label(again, 0)), "again");
    window_close(0);
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
    GtkWidget* window = open_window(400);
    statusbar_create(0, window);
    statusbar_add_field(300);
    auto* survivor = reinterpret_cast<GtkWidget*>(statusbar_create(1, open_window(400)));
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
    // The main thread holds gui_lock, so the worker's call stops at the lock.
    auto deadline = Clock::now() + 10s;
    while ((worker_id == 0 || !waits_on_a_lock(worker_id)) && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    bool was_waiting = worker_id != 0 && waits_on_a_lock(worker_id);
    gtk_widget_destroy(window);
    bool finished = iterate_until([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(was_waiting);
    ASSERT_TRUE(finished);
    EXPECT_EQ(text_of(field_label(survivor, 0)), "untouched");
    statusbar_set_text_plain(0, 0, "still gone");
}

} // namespace
