#include "gui/event_queue.h"
#include "gui/toolkit.h"
#include "tests/support/gui_waits.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class EventQueueTest : public testing::Test {
  protected:
    void SetUp() override {
        event_queue_init();
        // Start from an idle toolkit and an empty queue.
        event_flush_toolkit();
        while (event_wait(0) > 0) {
        }
        ASSERT_EQ(event_queue_length(), 0);
    }

    static void push(int code, int object, int window, int detail = 0, int flags = 0) {
        event_push(code, object, window, detail, nullptr, nullptr, flags);
    }

    // The objects of what is queued, in order.
    static std::vector<int> queued_objects() {
        std::vector<int> objects;
        for (const TakenEvent& event : take_queued_events()) {
            objects.push_back(event.object);
        }
        return objects;
    }
};

} // namespace

// The main thread blocks in the toolkit; a worker can take gui_lock only then,
// changes a widget and posts. The post alone must wake the main thread: a
// fallback timeout of the test's own, which event_post does not touch, ends
// the wait otherwise and records that it had to.
TEST_F(EventQueueTest, APostFromAWorkerWakesTheMainThreadBlockedInTheToolkit) {
    GtkWidget* label = gtk_label_new("before");
    g_object_ref_sink(label);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        bool fallback_needed = false;
        guint fallback = g_timeout_add_seconds(
            3, [](gpointer needed) -> gboolean { return *static_cast<bool*>(needed) = true, FALSE; },
            &fallback_needed);
        std::thread worker([&] {
            {
                GuiLockHold hold;
                gtk_label_set_text(GTK_LABEL(label), "after");
            }
            event_post(EVENT_GADGET, 0, 7);
        });
        int code = EVENT_IDLE;
        while (code == EVENT_IDLE && !fallback_needed) {
            code = window_wait_event();
        }
        join_without_gui_lock(worker);
        EXPECT_FALSE(fallback_needed) << "the post did not wake the main thread";
        if (!fallback_needed) {
            g_source_remove(fallback);
        }
        if (code == EVENT_IDLE) {
            code = event_wait(0);
        }
        EXPECT_EQ(code, EVENT_GADGET);
        EXPECT_EQ(event_gadget(), 7);
        EXPECT_EQ(event_window(), 0);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "after");
        gtk_label_set_text(GTK_LABEL(label), "before");
    }
    g_object_unref(label);
}

TEST_F(EventQueueTest, IdenticalPushesMergeOnlyWhenAdjacentAndNotPosted) {
    push(EVENT_GADGET, 5, 0, 768);
    push(EVENT_GADGET, 5, 0, 768);
    EXPECT_EQ(event_queue_length(), 1);

    push(EVENT_GADGET, 6, 0, 768);
    push(EVENT_GADGET, 5, 0, 768);
    EXPECT_EQ(event_queue_length(), 3) << "something between keeps both";

    push(EVENT_GADGET, 5, 0, 0);
    push(EVENT_GADGET, 5, 1, 0);
    push(EVENT_REPAINT, 5, 1, 0);
    EXPECT_EQ(event_queue_length(), 6) << "a different detail, window or code is a new event";

    event_post(EVENT_GADGET, 0, 7);
    event_post(EVENT_GADGET, 0, 7);
    EXPECT_EQ(event_queue_length(), 8) << "posted events never merge";

    push(0x10000, 1, 1);
    push(0x10000, 1, 1);
    EXPECT_EQ(event_queue_length(), 10) << "codes above 0xFFFF never merge";

    EXPECT_EQ(queued_objects(), (std::vector<int>{5, 6, 5, 5, 5, 5, 7, 7, 1, 1}));
}

TEST_F(EventQueueTest, SuppressionDropsSignalPushesButNotPostedOrForcedEvents) {
    event_suppress_begin();
    event_suppress_begin();
    push(EVENT_GADGET, 1, 0, 768);
    event_suppress_end();
    push(EVENT_GADGET, 2, 0, 768);
    event_post(EVENT_GADGET, 0, 3);
    push(EVENT_GADGET, 4, 0, 0, EVENT_FORCE);
    event_suppress_end();
    push(EVENT_GADGET, 5, 0, 768);

    EXPECT_EQ(queued_objects(), (std::vector<int>{3, 4, 5}));
}

TEST_F(EventQueueTest, QueuedEventsComeOutInOrderWithTheirFields) {
    push(EVENT_CLOSE_WINDOW, 0, 4);
    push(EVENT_GADGET, 2, 0, 0);
    push(EVENT_GADGET, 1, 0, 768);
    event_post_detail(EVENT_GADGET, 3, 9, 512);
    EXPECT_EQ(event_peek_code(), EVENT_CLOSE_WINDOW);

    EXPECT_EQ(take_queued_events(), (std::vector<TakenEvent>{{EVENT_CLOSE_WINDOW, 4, 0, 0},
                                                      {EVENT_GADGET, 0, 2, 0},
                                                      {EVENT_GADGET, 0, 1, 768},
                                                      {EVENT_GADGET, 3, 9, 512}}));
    EXPECT_EQ(event_peek_code(), 0);
}

TEST_F(EventQueueTest, TheRecordPoolGrowsAndKeepsOrder) {
    constexpr int COUNT = 1000;
    for (int i = 0; i < COUNT; ++i) {
        push(EVENT_GADGET, i, 0);
    }
    ASSERT_EQ(event_queue_length(), COUNT);
    for (int i = 0; i < COUNT; ++i) {
        ASSERT_EQ(event_wait(0), EVENT_GADGET);
        ASSERT_EQ(event_gadget(), i);
    }
    // Recycled records serve a second round.
    for (int i = 0; i < COUNT; ++i) {
        push(EVENT_REPAINT, i, 1);
    }
    EXPECT_EQ(event_queue_length(), COUNT);
}

TEST_F(EventQueueTest, PostsFromManyThreadsAllArrive) {
    constexpr int THREADS = 4;
    constexpr int POSTS = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < THREADS; ++t) {
        posters.emplace_back([t] {
            for (int i = 0; i < POSTS; ++i) {
                event_post(EVENT_GADGET, t, i);
            }
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    std::vector<int> next(THREADS, 0);
    for (const TakenEvent& event : take_queued_events()) {
        ASSERT_EQ(event.code, EVENT_GADGET);
        ASSERT_GE(event.window, 0);
        ASSERT_LT(event.window, THREADS);
        // Each thread's posts keep their order.
        EXPECT_EQ(event.object, next[event.window]);
        ++next[event.window];
    }
    for (int t = 0; t < THREADS; ++t) {
        EXPECT_EQ(next[t], POSTS);
    }
    event_flush_toolkit();
}

TEST_F(EventQueueTest, TimedWaitsWithNothingHappening) {
    auto start = Clock::now();
    EXPECT_EQ(event_wait(0), EVENT_NONE);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "a zero timeout does not wait";

    start = Clock::now();
    EXPECT_EQ(event_wait(100), EVENT_NONE);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(EventQueueTest, AnIterationThatQueuesNothingIsIdleAndKeepsTheCurrentObject) {
    push(EVENT_GADGET, 42, 3, 768);
    ASSERT_EQ(window_wait_event(), EVENT_GADGET);
    ASSERT_EQ(event_gadget(), 42);

    g_timeout_add(
        0, [](gpointer) -> gboolean { return FALSE; }, nullptr);
    EXPECT_EQ(window_wait_event(), EVENT_IDLE);
    EXPECT_EQ(event_gadget(), 42);
    EXPECT_EQ(event_window(), 3);
    EXPECT_EQ(event_detail(), -1);
}

TEST_F(EventQueueTest, DiscardingAWindowKeepsTheOthersInOrder) {
    push(EVENT_GADGET, 1, 1);
    push(EVENT_GADGET, 2, 2);
    push(EVENT_GADGET, 3, 1);
    event_post(EVENT_GADGET, 2, 4);
    push(EVENT_GADGET, 5, 3);
    push(EVENT_GADGET, 6, 2);

    event_discard_window(2);
    // The tail must now be the last kept record: this push goes after it, and
    // it is not merged with the discarded (2, 6).
    push(EVENT_GADGET, 6, 2);

    EXPECT_EQ(queued_objects(), (std::vector<int>{1, 3, 5, 6}));

    push(EVENT_GADGET, 1, 8);
    event_discard_window(8);
    EXPECT_EQ(event_peek_code(), 0);
    push(EVENT_REPAINT, 0, 9);
    EXPECT_EQ(event_peek_code(), EVENT_REPAINT) << "an emptied queue takes new events";
}

TEST_F(EventQueueTest, DiscardingSignalsOfAWindowKeepsItsPostedEvents) {
    push(EVENT_MOVE_WINDOW, 0, 5);
    event_post(EVENT_GADGET, 5, 7);
    push(EVENT_REPAINT, 0, 6);
    push(EVENT_REPAINT, 0, 5);

    event_discard_window_signals(5);

    EXPECT_EQ(take_queued_events(),
              (std::vector<TakenEvent>{{EVENT_GADGET, 5, 7, 0}, {EVENT_REPAINT, 6, 0, 0}}));
}

namespace {

int released_count = 0;

void count_release(void* data) {
    ++released_count;
    delete static_cast<int*>(data);
}

} // namespace

TEST_F(EventQueueTest, EventDataIsReleasedOnceWhateverBecomesOfTheEvent) {
    released_count = 0;
    event_push(EVENT_GADGET, 1, 0, 0, new int(1), count_release, 0);
    ASSERT_EQ(window_wait_event(), EVENT_GADGET);
    EXPECT_EQ(*static_cast<int*>(event_data()), 1);
    EXPECT_EQ(released_count, 0) << "the current event's data stays valid until the next take";
    EXPECT_EQ(event_wait(0), EVENT_NONE);
    EXPECT_EQ(released_count, 1);

    event_push(EVENT_GADGET, 2, 0, 0, new int(2), count_release, 0);
    event_push(EVENT_GADGET, 2, 0, 0, new int(3), count_release, 0);
    EXPECT_EQ(released_count, 2) << "a merged push gives its data back";
    event_suppress_begin();
    event_push(EVENT_GADGET, 3, 0, 0, new int(4), count_release, 0);
    event_suppress_end();
    EXPECT_EQ(released_count, 3) << "a suppressed push gives its data back";
    event_discard_window(0);
    EXPECT_EQ(released_count, 4) << "a discarded event gives its data back";
}
