#include "gui/window.h"

#include "gui/event_queue.h"
#include "gui/gadget_area.h"
#include "gui/gadget_state.h"
#include "gui/toolkit.h"
#include "tests/support/gui_waits.h"
#include "tests/support/processes.h"
#include "tests/support/x_properties.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        event_queue_init();
        window_init();
    }

    void TearDown() override { window_close(OBJECT_ANY); }

    // Opens a window and waits until the window manager has framed it.
    static GtkWidget* open_framed(object_number number, int flags, int x = 100, int y = 80,
                                  const char* title = "window test") {
        window_open(number, x, y, 300, 150, title, flags);
        GtkWidget* window = window_handle(number);
        EXPECT_NE(window, nullptr);
        if (window != nullptr && !(flags & WINDOW_BORDERLESS)) {
            EXPECT_TRUE(run_toolkit_until([&] { return frame_extents(x_window(window)).has_value(); }));
        }
        take_events_until_quiet();
        return window;
    }

    static int count_of(const std::vector<TakenEvent>& events, int code, int window) {
        int count = 0;
        for (const TakenEvent& event : events) {
            count += event.code == code && event.window == window ? 1 : 0;
        }
        return count;
    }

    static TakenEvent take_window_event(int code, int window) {
        return take_event_until(
            [&](const TakenEvent& e) { return e.code == code && e.window == window; });
    }

    static int data_int(GtkWidget* window, const char* key) {
        return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), key));
    }

    static GtkWidget* gadget_area(GtkWidget* window) {
        return static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(window), "wg_gadgetlist"));
    }

    static void watch_destroy(GtkWidget* widget, bool* destroyed) {
        *destroyed = false;
        g_signal_connect_swapped(widget, "destroy", G_CALLBACK(+[](bool* flag) { *flag = true; }),
                                 destroyed);
    }
};

} // namespace

TEST_F(WindowTest, FlagsGiveTheirDecorationsFunctionsAndSizes) {
    struct Case {
        int flags;
        long functions;
        long decorations;
        bool resizable;
    };
    const Case cases[] = {
        {0x44, 0x24, 0x1A, false}, {0x0, 0x24, 0x0A, false}, {0x2, 0x26, 0x0E, true},
        {0x80, 0x24, 0x00, false},
        {0x30, 0x3E, 0x6E, true}, {0x820, 0x24, 0x0A, false},
    };
    int number = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        GtkWidget* window = open_framed(number++, c.flags);
        ASSERT_NE(window, nullptr);
        std::optional<MotifHints> hints = motif_hints(x_window(window));
        ASSERT_TRUE(hints.has_value());
        EXPECT_EQ(hints->functions, c.functions);
        EXPECT_EQ(hints->decorations, c.decorations);
        EXPECT_EQ(gtk_window_get_resizable(GTK_WINDOW(window)), c.resizable);
        std::optional<SizeHints> sizes = size_hints(x_window(window));
        ASSERT_TRUE(sizes.has_value());
        if (c.resizable) {
            EXPECT_EQ(sizes->min_width, 30);
            EXPECT_EQ(sizes->min_height, 30);
            EXPECT_EQ(sizes->flags & SIZE_HINT_MAX_SIZE, 0);
        } else {
            EXPECT_EQ(sizes->min_width, 300);
            EXPECT_EQ(sizes->max_width, 300);
            EXPECT_EQ(sizes->min_height, 150);
            EXPECT_EQ(sizes->max_height, 150);
        }
        if (c.flags & WINDOW_BORDERLESS) {
            std::optional<FrameExtents> frame = frame_extents(x_window(window));
            EXPECT_TRUE(!frame || (frame->left == 0 && frame->top == 0));
        }
        if (c.flags & WINDOW_TOOL) {
            EXPECT_EQ(x_property_atom_names(x_window(window), "_NET_WM_WINDOW_TYPE"),
                      std::vector<std::string>{"_NET_WM_WINDOW_TYPE_UTILITY"});
        }
    }
}

TEST_F(WindowTest, PositionIsAppliedUnlessLeftToTheWindowManager) {
    GtkWidget* placed = open_framed(1, 0, 100, 80);
    ASSERT_NE(placed, nullptr);
    EXPECT_NE(size_hints(x_window(placed))->flags & (SIZE_HINT_USER_POSITION | SIZE_HINT_PROGRAM_POSITION),
              0);
    ClientGeometry client = *client_geometry(x_window(placed));
    FrameExtents frame = *frame_extents(x_window(placed));
    EXPECT_EQ(client.x - frame.left, 100);
    EXPECT_EQ(client.y - frame.top, 80);

    for (auto [number, flags, x, y] :
         {std::tuple{2, 0, -65535, 500}, std::tuple{3, 0x100, 500, 500}}) {
        GtkWidget* free = open_framed(number, flags, x, y);
        ASSERT_NE(free, nullptr);
        EXPECT_EQ(size_hints(x_window(free))->flags & (SIZE_HINT_USER_POSITION | SIZE_HINT_PROGRAM_POSITION),
                  0)
            << "window " << number;
    }
}

TEST_F(WindowTest, CloseRequestQueuesOneCloseEventAndLeavesTheWindowOpen) {
    GtkWidget* window = open_framed(0, 0x44);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(run_tool({"wmctrl", "-i", "-c", x_window_id(x_window(window).id)}).status, 0);
    EXPECT_EQ(take_window_event(EVENT_CLOSE_WINDOW, 0).code, EVENT_CLOSE_WINDOW);
    std::vector<TakenEvent> events = take_events_until_quiet(0.5);
    EXPECT_EQ(count_of(events, EVENT_CLOSE_WINDOW, 0), 0) << "exactly one close event";
    EXPECT_EQ(window_handle(0), window);
    EXPECT_TRUE(gtk_widget_get_visible(window));

    // A disabled window ignores the request.
    g_object_set_data(G_OBJECT(window), "wg_disabled", GINT_TO_POINTER(1));
    ASSERT_EQ(run_tool({"wmctrl", "-i", "-c", x_window_id(x_window(window).id)}).status, 0);
    events = take_events_until_quiet(0.5);
    EXPECT_EQ(count_of(events, EVENT_CLOSE_WINDOW, 0), 0);
    EXPECT_EQ(window_handle(0), window);
}

TEST_F(WindowTest, ConfigureEventsReportMovesAndResizes) {
    GtkWidget* window = open_framed(1, WINDOW_SIZE_GADGET);
    ASSERT_NE(window, nullptr);

    gtk_window_move(GTK_WINDOW(window), 220, 140);
    EXPECT_EQ(take_window_event(EVENT_MOVE_WINDOW, 1).code, EVENT_MOVE_WINDOW);
    int moved_x = data_int(window, "wg_previous_x");
    int moved_y = data_int(window, "wg_previous_y");
    EXPECT_EQ(moved_x, client_geometry(x_window(window))->x);

    gtk_window_resize(GTK_WINDOW(window), 400, 250);
    EXPECT_EQ(take_window_event(EVENT_SIZE_WINDOW, 1).code, EVENT_SIZE_WINDOW);
    EXPECT_EQ(data_int(window, "wg_previous_width"), 400);
    EXPECT_EQ(data_int(window, "wg_previous_height"), 250);
    EXPECT_EQ(data_int(window, "wg_previous_x"), moved_x);
    EXPECT_EQ(data_int(window, "wg_previous_y"), moved_y);
}

TEST_F(WindowTest, StateChangesAndClicksBecomeEvents) {
    GtkWidget* window = open_framed(0, WINDOW_MINIMIZE_GADGET | WINDOW_MAXIMIZE_GADGET);
    ASSERT_NE(window, nullptr);
    window_set_state(0, WINDOW_MAXIMIZE);
    EXPECT_EQ(take_window_event(EVENT_MAXIMIZE_WINDOW, 0).code, EVENT_MAXIMIZE_WINDOW);
    window_set_state(0, 0);
    EXPECT_EQ(take_window_event(EVENT_RESTORE_WINDOW, 0).code, EVENT_RESTORE_WINDOW);
    take_events_until_quiet();

    std::string id = std::to_string(x_window(window).id);
    ASSERT_EQ(run_tool({"xdotool", "mousemove", "--sync", "--window", id, "50", "50"}).status, 0);
    const std::pair<std::vector<std::string>, int> clicks[] = {
        {{"1"}, EVENT_LEFT_CLICK},
        {{"3"}, EVENT_RIGHT_CLICK},
        {{"--repeat", "2", "--delay", "50", "1"}, EVENT_LEFT_DOUBLE_CLICK},
    };
    for (const auto& [how, code] : clicks) {
        std::vector<std::string> click{"xdotool", "click"};
        click.insert(click.end(), how.begin(), how.end());
        ASSERT_EQ(run_tool(click).status, 0);
        EXPECT_EQ(take_window_event(code, 0).code, code);
    }

    window_set_state(0, WINDOW_MINIMIZE);
    EXPECT_EQ(take_window_event(EVENT_MINIMIZE_WINDOW, 0).code, EVENT_MINIMIZE_WINDOW);
}

// Pushes a marker (window 9, gadgets 90, 91, ... so that none repeats the one
// before) ahead of each configuration of the window titled "replacement", so
// the queue shows which events each configuration left.
gboolean mark_configuration(GSignalInvocationHint*, guint, const GValue* values, gpointer count) {
    GObject* instance = G_OBJECT(g_value_get_object(&values[0]));
    if (GTK_IS_WINDOW(instance) &&
        g_strcmp0(gtk_window_get_title(GTK_WINDOW(instance)), "replacement") == 0) {
        event_push(EVENT_GADGET, 90 + (*static_cast<int*>(count))++, 9, 0, nullptr, nullptr, 0);
    }
    return TRUE;
}

TEST_F(WindowTest, ReopeningANumberReplacesTheWindowAndKeepsOtherEvents) {
    GtkWidget* first = open_framed(0, 0);
    ASSERT_NE(first, nullptr);
    bool first_destroyed = false;
    watch_destroy(first, &first_destroyed);
    event_push(EVENT_GADGET, 11, 0, 0, nullptr, nullptr, 0);
    event_push(EVENT_GADGET, 12, 1, 0, nullptr, nullptr, 0);
    // Runs in the toolkit iterations of the opening, while it waits for the
    // window manager: what it queues belongs to the application.
    g_timeout_add(
        0,
        [](gpointer) -> gboolean {
            event_push(EVENT_GADGET, 13, 7, 0, nullptr, nullptr, 0);
            event_post(EVENT_GADGET, 0, 14);
            return FALSE;
        },
        nullptr);
    // Keeps the toolkit busy, so the opening never ends its wait on half a
    // second of quiet: its wait then always takes the first configuration,
    // however slowly a loaded window manager answers.
    guint ticking = g_timeout_add(50, [](gpointer) -> gboolean { return TRUE; }, nullptr);
    const guint configure = g_signal_lookup("configure-event", GTK_TYPE_WIDGET);
    int configurations = 0;
    const gulong hook =
        g_signal_add_emission_hook(configure, 0, mark_configuration, &configurations, nullptr);

    window_open(0, 100, 80, 300, 150, "replacement", 0);
    g_signal_remove_emission_hook(configure, hook);
    g_source_remove(ticking);

    EXPECT_TRUE(first_destroyed);
    EXPECT_NE(window_handle(0), nullptr);
    EXPECT_NE(window_handle(0), first);
    // Everything queued when the opening returns, the toolkit not run since:
    // the others' events stay in order, and what the first configuration left
    // (the events between the first marker and the next) is gone. The window
    // manager may move the window again after that: the application sees it.
    std::vector<std::tuple<int, int, int>> others;
    int marker = -1;
    for (const TakenEvent& event : take_queued_events()) {
        if (event.code == EVENT_GADGET && event.window == 9) {
            marker = event.object;
        } else if (event.code == EVENT_GADGET) {
            others.emplace_back(event.code, event.window, event.object);
        } else if (marker == 90 && event.window == 0) {
            EXPECT_NE(event.code, EVENT_MOVE_WINDOW)
                << "the first configuration's move reached the queue";
            EXPECT_NE(event.code, EVENT_SIZE_WINDOW)
                << "the first configuration's size reached the queue";
        }
    }
    EXPECT_GE(configurations, 1) << "the opening took no configuration";
    EXPECT_EQ(others, (std::vector<std::tuple<int, int, int>>{
                          {EVENT_GADGET, 1, 12}, {EVENT_GADGET, 7, 13}, {EVENT_GADGET, 0, 14}}));
}

TEST_F(WindowTest, ColourGoesIntoTheGadgetAreasStyle) {
    GtkWidget* window = open_framed(0, 0x44);
    ASSERT_NE(window, nullptr);
    GtkWidget* area = gadget_area(window);
    ASSERT_NE(area, nullptr);
    const GtkStateType colored[] = {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT};

    window_set_color(0, 204);
    GtkRcStyle* style = gtk_widget_get_modifier_style(area);
    for (GtkStateType state : colored) {
        EXPECT_EQ(style->color_flags[state] & (GTK_RC_BG | GTK_RC_BASE), GTK_RC_BG | GTK_RC_BASE);
        EXPECT_EQ(style->bg[state].red, 0xCC00);
        EXPECT_EQ(style->bg[state].green, 0);
        EXPECT_EQ(style->bg[state].blue, 0);
        EXPECT_EQ(style->base[state].red, 0xCC00);
    }
    EXPECT_EQ(style->color_flags[GTK_STATE_SELECTED] & GTK_RC_BG, 0);
    EXPECT_EQ(gtk_widget_get_style(area)->bg[GTK_STATE_NORMAL].red, 0xCC00);

    window_set_color(0, 0x563412);
    style = gtk_widget_get_modifier_style(area);
    EXPECT_EQ(style->bg[GTK_STATE_NORMAL].red, 0x1200);
    EXPECT_EQ(style->bg[GTK_STATE_NORMAL].green, 0x3400);
    EXPECT_EQ(style->bg[GTK_STATE_NORMAL].blue, 0x5600);

    window_set_color(0, -1);
    style = gtk_widget_get_modifier_style(area);
    for (GtkStateType state : colored) {
        EXPECT_EQ(style->color_flags[state] & (GTK_RC_BG | GTK_RC_BASE), 0);
    }
    window_set_color(9, 204); // no such window: nothing happens
}

TEST_F(WindowTest, ClosingDestroysWindowsAndDropsTheirEvents) {
    GtkWidget* zero = open_framed(0, 0);
    GtkWidget* three = open_framed(3, 0);
    object_number automatic = window_open(OBJECT_ANY, 100, 80, 300, 150, "automatic", 0);
    ASSERT_LT(automatic, -1);
    GtkWidget* any = window_handle(automatic);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(window_number_of(any), automatic);
    bool destroyed[3];
    watch_destroy(zero, &destroyed[0]);
    watch_destroy(three, &destroyed[1]);
    watch_destroy(any, &destroyed[2]);
    take_events_until_quiet();

    event_push(EVENT_GADGET, 1, 3, 0, nullptr, nullptr, 0);
    event_push(EVENT_GADGET, 2, 0, 0, nullptr, nullptr, 0);
    window_close(3);
    EXPECT_TRUE(destroyed[1]);
    EXPECT_EQ(window_handle(3), nullptr);
    ASSERT_EQ(event_wait(0), EVENT_GADGET);
    EXPECT_EQ(event_gadget(), 2);
    window_close(3); // already closed: nothing happens

    window_close(OBJECT_ANY);
    EXPECT_TRUE(destroyed[0]);
    EXPECT_TRUE(destroyed[2]);
    EXPECT_EQ(window_handle(0), nullptr);
    EXPECT_EQ(window_handle(automatic), nullptr);
}

TEST_F(WindowTest, GadgetAreaOwnershipIsSavedAndRestoredPerWindow) {
    GadgetState* state = gadget_state();
    GtkWidget* first = open_framed(0, 0);
    ASSERT_EQ(state->owner, first);
    ASSERT_EQ(state->container, gadget_area(first));
    // A gadget layer that has nested a container in the first window.
    GtkWidget* inner = gtk_fixed_new();
    gtk_fixed_put(GTK_FIXED(gadget_area(first)), inner, 0, 0);
    EXPECT_EQ(window_number_of(inner), 0);
    state->stack[0] = state->container;
    state->depth = 1;
    state->container = inner;

    GtkWidget* second = open_framed(1, 0);
    EXPECT_EQ(state->container, gadget_area(second));
    EXPECT_EQ(state->depth, 0);
    open_framed(2, WINDOW_NO_GADGETS);
    EXPECT_EQ(state->owner, second);

    EXPECT_EQ(window_use_gadget_area(first), second);
    EXPECT_EQ(state->container, inner);
    EXPECT_EQ(state->depth, 1);
    EXPECT_EQ(state->stack[0], gadget_area(first));
    EXPECT_EQ(window_use_gadget_area(second), first);
    EXPECT_EQ(state->container, gadget_area(second));
    EXPECT_EQ(window_use_gadget_area(nullptr), second);
    EXPECT_EQ(state->owner, second);

    window_close(1);
    EXPECT_EQ(state->owner, nullptr);
    EXPECT_EQ(state->container, nullptr);

    // A window made elsewhere gets an area at the start of its box; one without
    // a box cannot take gadgets and changes nothing.
    GtkWidget* foreign = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(foreign), box);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new("below"), FALSE, FALSE, 0);
    EXPECT_EQ(window_use_gadget_area(foreign), nullptr);
    GtkWidget* added = gadget_area(foreign);
    ASSERT_NE(added, nullptr);
    EXPECT_TRUE(GTK_IS_FIXED(added));
    EXPECT_TRUE(gtk_fixed_get_has_window(GTK_FIXED(added)));
    EXPECT_EQ(gtk_widget_get_parent(added), box);
    EXPECT_EQ(state->container, added);
    EXPECT_EQ(window_number_of(added), -1) << "not a window of this layer";

    GtkWidget* boxless = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(boxless), gtk_label_new("no box"));
    EXPECT_EQ(window_use_gadget_area(boxless), foreign);
    EXPECT_EQ(state->owner, foreign);
    gtk_widget_destroy(boxless);
    gtk_widget_destroy(foreign);
    EXPECT_EQ(state->owner, nullptr);
}

TEST_F(WindowTest, InvisibleWindowIsNotShown) {
    object_number result = window_open(0, 0, 0, 300, 150, "invisible", WINDOW_INVISIBLE);
    EXPECT_NE(result, 0);
    ASSERT_NE(window_handle(0), nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(window_handle(0)));
}

namespace {

// Whether any thread holds gui_lock, asked from a thread that does not.
bool gui_lock_is_held() {
    bool held = false;
    std::thread probe([&] {
        held = !gui_lock().try_lock();
        if (!held) {
            gui_lock().unlock();
        }
    });
    probe.join();
    return held;
}

} // namespace

TEST_F(WindowTest, NoActivateWindowAcceptsFocusAgainUnderTheGuiLock) {
    window_open(0, 100, 80, 300, 150, "no activate", WINDOW_NO_ACTIVATE);
    GtkWidget* window = window_handle(0);
    ASSERT_NE(window, nullptr);
    // The focus comes back from a toolkit timeout; the change it makes is seen
    // here, on the main thread, while that timeout runs.
    struct Seen {
        int changes = 0;
        bool locked = false;
    } seen;
    g_signal_connect(window, "notify::accept-focus",
                     G_CALLBACK(+[](GtkWidget*, GParamSpec*, Seen* s) {
                         ++s->changes;
                         s->locked = gui_lock_is_held();
                     }),
                     &seen);
    if (gtk_window_get_accept_focus(GTK_WINDOW(window))) {
        GTEST_SKIP() << "the focus came back before the check could start";
    }
    EXPECT_TRUE(run_toolkit_until([&] { return seen.changes > 0; }));
    EXPECT_TRUE(gtk_window_get_accept_focus(GTK_WINDOW(window)));
    EXPECT_EQ(data_int(window, "wg_restore_focus"), 0);
    EXPECT_EQ(seen.changes, 1);
    EXPECT_TRUE(seen.locked) << "the toolkit was touched without gui_lock";
}

TEST_F(WindowTest, WindowClosedBeforeItsFocusComesBackIsSafe) {
    window_open(0, 100, 80, 300, 150, "closed early", WINDOW_NO_ACTIVATE);
    GtkWidget* window = window_handle(0);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(run_toolkit_until([&] { return data_int(window, "wg_restore_focus") == 0; }));
    window_close(0);
    EXPECT_EQ(window_handle(0), nullptr);
    run_toolkit_for(0.2);
}
