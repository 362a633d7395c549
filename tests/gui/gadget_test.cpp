#include "gui/gadget.h"

#include "gui/button_gadget.h"
#include "gui/combo_box_gadget.h"
#include "gui/event_queue.h"
#include "gui/gadget_state.h"
#include "gui/text_gadget.h"
#include "gui/window.h"
#include "tests/support/gadget_fixture.h"
#include "tests/support/gui_waits.h"
#include "tests/support/wait_until.h"

#include <atomic>
#include <functional>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using GadgetCoreTest = GadgetWindowTest;

constexpr int GADGET_TEST_DONE = 7;

// Waits for a worker's completion event, as the program's main loop does.
bool wait_for_test_done() {
    return take_event_until([](const TakenEvent& e) {
               return e.code == EVENT_GADGET && e.object == GADGET_TEST_DONE;
           }).code == EVENT_GADGET;
}

gint font_size(GtkWidget* widget) {
    return pango_font_description_get_size(gtk_widget_get_style(widget)->font_desc);
}

TEST_F(GadgetCoreTest, WorkerChangesGadgetsWhileTheMainThreadWaitsForEvents) {
    object_number sent = text_gadget_create(OBJECT_ANY, 10, 10, 200, 20, "", TEXT_FRAMED);
    ASSERT_LT(sent, -1);
    ASSERT_NE(combo_box_gadget_create_plain(1, 10, 40, 200, 25), 0);
    gadget_add_item(1, -1, "/dev/ttyUSB0");
    gadget_add_item(1, -1, "/dev/ttyUSB1");
    gadget_set_state(1, 1);
    ASSERT_NE(text_gadget_create(2, 10, 80, 200, 20, "old", TEXT_FRAMED), 0);
    PangoFontDescription* font = pango_font_description_from_string("Sans 17");

    std::string read_back;
    std::thread worker([&] {
        gadget_set_text(sent, "This is a test!");
        read_back = gadget_get_text(1);
        gadget_set_text(2, read_back.c_str());
        gadget_set_font(2, font);
        event_post(EVENT_GADGET, 0, GADGET_TEST_DONE);
    });
    bool done = wait_for_test_done();
    join_without_gui_lock(worker);

    ASSERT_TRUE(done);
    EXPECT_EQ(read_back, "/dev/ttyUSB1");
    EXPECT_EQ(gadget_label_text(gadget_lookup(sent)->widget), "This is a test!");
    EXPECT_EQ(gadget_label_text(gadget_lookup(2)->widget), "/dev/ttyUSB1");
    EXPECT_EQ(font_size(gadget_lookup(2)->widget), 17 * PANGO_SCALE);
    // The worker's changes raised no events of their own.
    EXPECT_TRUE(gadget_events_until_quiet().empty());
    window_close(-1);
    pango_font_description_free(font);
}

TEST_F(GadgetCoreTest, WorkerWhoseGadgetsCloseWhileItWaitsForTheLockTouchesNothing) {
    object_number automatic = text_gadget_create_plain(OBJECT_ANY, 10, 10, 200, 20, "kept");
    ASSERT_NE(combo_box_gadget_create_plain(1, 10, 40, 200, 25), 0);
    gadget_add_item(1, -1, "item");
    gadget_set_state(1, 0);
    ASSERT_NE(text_gadget_create_plain(2, 10, 80, 200, 20, "kept"), 0);
    PangoFontDescription* font = pango_font_description_from_string("Sans 20");

    // Each worker makes one call, finds its gadget and then waits for the
    // lock, which this thread holds until the window is gone. An automatic
    // record is freed by then, an explicit one cleared.
    std::string texts[2] = {"unset", "unset"};
    std::atomic<int> added{-1};
    std::vector<std::function<void()>> calls = {
        [&] { gadget_set_text(automatic, "changed"); },
        [&] { texts[0] = gadget_get_text(1); },
        [&] { texts[1] = gadget_get_text(automatic); },
        [&] { added = gadget_add_item(1, -1, "more"); },
        [&] { gadget_set_state(1, -1); },
        [&] { gadget_set_color(2, COLOR_BACKGROUND, 204); },
        [&] { gadget_set_font(2, font); },
    };
    std::vector<std::atomic<long>> thread_ids(calls.size());
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        workers.emplace_back([&, i] {
            thread_ids[i] = static_cast<long>(syscall(SYS_gettid));
            calls[i]();
        });
    }
    // Polled while holding gui_lock: running the toolkit would let them in.
    auto all_waiting = [&] {
        for (auto& id : thread_ids) {
            if (id == 0 || gadget_thread_state(id) != 'S') {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(wait_until(all_waiting));
    window_close(GADGET_TEST_WINDOW);
    EXPECT_EQ(gadget_lookup(automatic), nullptr);
    EXPECT_EQ(gadget_lookup(1), nullptr);
    EXPECT_EQ(gadget_lookup(2), nullptr);

    for (std::thread& worker : workers) {
        join_without_gui_lock(worker);
    }
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(added, 0);
    pango_font_description_free(font);
}

TEST_F(GadgetCoreTest, OperationsWithoutAGadgetOrASlotDoNothing) {
    EXPECT_STREQ(gadget_get_text(3), "");
    EXPECT_STREQ(gadget_get_text(-1234), "");
    EXPECT_EQ(gadget_add_item(3, -1, "x"), 0);
    gadget_set_text(3, "x");
    gadget_set_state(3, 1);
    gadget_disable(3, 1);
    gadget_set_color(3, COLOR_BACKGROUND, 204);
    gadget_set_font(3, -1);
    gadget_release(3);

    // A text has no items and no state.
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "caption"), 0);
    EXPECT_EQ(gadget_add_item(1, -1, "x"), 0);
    gadget_set_state(1, 1);
    EXPECT_STREQ(gadget_get_text(1), "caption");
    EXPECT_TRUE(gadget_events_until_quiet().empty());
}

TEST_F(GadgetCoreTest, ConstructorsReturnAutomaticNumbersOrTheMainWidget) {
    object_number automatic = button_gadget_create_plain(OBJECT_ANY, 10, 10, 80, 25, "a");
    object_number other = button_gadget_create_plain(OBJECT_ANY, 100, 10, 80, 25, "b");
    EXPECT_LT(automatic, -1);
    EXPECT_LT(other, -1);
    EXPECT_NE(automatic, other);

    object_number result = text_gadget_create_plain(4, 10, 40, 80, 20, "c");
    GadgetRecord* record = gadget_lookup(4);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(result, reinterpret_cast<object_number>(record->widget));
    // Widgets carry the number plus one, so gadget 0 is told from no number.
    EXPECT_EQ(g_object_get_data(G_OBJECT(record->widget), "wg_id"), gadget_number_to_data(5));
    EXPECT_EQ(g_object_get_data(G_OBJECT(gadget_lookup(automatic)->widget), "wg_id"),
              gadget_number_to_data(automatic + 1));
}

TEST_F(GadgetCoreTest, CreatingANumberTwiceLeavesOnlyTheSecondGadget) {
    ASSERT_NE(combo_box_gadget_create_plain(3, 10, 10, 100, 25), 0);
    GtkWidget* first = gadget_lookup(3)->widget;
    GtkWidget* first_outer = gadget_lookup(3)->outer;
    g_object_add_weak_pointer(G_OBJECT(first), reinterpret_cast<gpointer*>(&first));
    g_object_add_weak_pointer(G_OBJECT(first_outer), reinterpret_cast<gpointer*>(&first_outer));

    ASSERT_NE(text_gadget_create_plain(3, 10, 50, 100, 20, "second"), 0);
    event_flush_toolkit();
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(first_outer, nullptr);
    GadgetRecord* record = gadget_lookup(3);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->ops->kind, KIND_TEXT);
    EXPECT_STREQ(gadget_get_text(3), "second");
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(record->outer)));
    EXPECT_EQ(g_list_length(children), 1u);
    g_list_free(children);
}

TEST_F(GadgetCoreTest, ReleasingAllGadgetsEmptiesTheArea) {
    ASSERT_NE(text_gadget_create_plain(0, 10, 10, 100, 20, "a"), 0);
    object_number automatic = combo_box_gadget_create_plain(OBJECT_ANY, 10, 40, 100, 25);
    GtkWidget* area = gtk_widget_get_parent(gadget_lookup(0)->outer);
    gadget_release(-1);
    EXPECT_EQ(gadget_lookup(0), nullptr);
    EXPECT_EQ(gadget_lookup(automatic), nullptr);
    EXPECT_EQ(gtk_container_get_children(GTK_CONTAINER(area)), nullptr);
}

TEST_F(GadgetCoreTest, DisableTurnsOnlyTheMainWidgetInsensitive) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "a"), 0);
    GadgetRecord* text = gadget_lookup(1);
    gadget_disable(1, 2);
    EXPECT_FALSE(gtk_widget_get_sensitive(text->widget));
    EXPECT_TRUE(gtk_widget_get_sensitive(text->outer));
    gadget_disable(1, 0);
    EXPECT_TRUE(gtk_widget_get_sensitive(text->widget));
}

TEST_F(GadgetCoreTest, DefaultFontAppliesToLaterGadgetsOfTheSameThreadOnly) {
    ASSERT_NE(text_gadget_create_plain(1, 10, 10, 100, 20, "before"), 0);
    GtkWidget* before = gadget_lookup(1)->widget;
    gint theme_size = font_size(before);
    PangoFontDescription* font = pango_font_description_from_string("Sans 23");

    gadget_set_font(-1, font);
    EXPECT_EQ(g_object_get_data(G_OBJECT(before), "wg_gadget_font"), nullptr);
    EXPECT_EQ(font_size(before), theme_size);

    ASSERT_NE(text_gadget_create_plain(2, 10, 40, 100, 20, "after"), 0);
    ASSERT_NE(button_gadget_create_plain(3, 10, 70, 100, 25, "after"), 0);
    GtkWidget* after = gadget_lookup(2)->widget;
    EXPECT_EQ(g_object_get_data(G_OBJECT(after), "wg_gadget_font"), font);
    EXPECT_EQ(font_size(after), 23 * PANGO_SCALE);
    EXPECT_EQ(font_size(gtk_bin_get_child(GTK_BIN(gadget_lookup(3)->widget))), 23 * PANGO_SCALE);

    PangoFontDescription* seen_by_worker = font;
    std::thread worker([&] { seen_by_worker = gadget_state()->default_font; });
    join_without_gui_lock(worker);
    EXPECT_EQ(seen_by_worker, nullptr);

    // -1 as the font is the theme's font, for one gadget and for the default.
    gadget_set_font(2, -1);
    EXPECT_EQ(g_object_get_data(G_OBJECT(after), "wg_gadget_font"), nullptr);
    EXPECT_EQ(font_size(after), theme_size);
    gadget_set_font(-1, -1);
    ASSERT_NE(text_gadget_create_plain(4, 10, 100, 100, 20, "theme"), 0);
    EXPECT_EQ(font_size(gadget_lookup(4)->widget), theme_size);
    window_close(-1);
    pango_font_description_free(font);
}

TEST_F(GadgetCoreTest, WithoutAGadgetAreaNothingIsCreated) {
    window_close(-1);
    EXPECT_EQ(text_gadget_create_plain(1, 0, 0, 10, 10, "x"), 0);
    EXPECT_EQ(button_gadget_create_plain(1, 0, 0, 10, 10, "x"), 0);
    EXPECT_EQ(combo_box_gadget_create_plain(1, 0, 0, 10, 10), 0);
    EXPECT_EQ(gadget_lookup(1), nullptr);
}

} // namespace
