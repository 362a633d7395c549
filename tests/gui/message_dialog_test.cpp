#include "gui/message_dialog.h"

#include "tests/support/dialog_driver.h"
#include "tests/support/toolkit_checks.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ButtonInfo {
    GtkWidget* widget;
    std::string stock_id;
};

// What a dialog showed, read while it was open.
struct Seen {
    std::vector<std::string> stock_ids;
    std::string focused; // stock id of the focus button, "" for none
    int default_width = 0;
    int default_height = 0;
    std::string text;
    int padding_x = -1;
    int padding_y = -1;
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    bool modal = true;
    bool transient = true;
};

std::vector<ButtonInfo> buttons_of(GtkWidget* dialog) {
    std::vector<ButtonInfo> buttons;
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(dialog))));
    for (GList* item = children; item != nullptr; item = item->next) {
        auto* widget = static_cast<GtkWidget*>(item->data);
        if (GTK_IS_BUTTON(widget) && gtk_button_get_use_stock(GTK_BUTTON(widget))) {
            buttons.push_back({widget, gtk_button_get_label(GTK_BUTTON(widget))});
        }
    }
    g_list_free(children);
    return buttons;
}

GtkWidget* button_with(GtkWidget* dialog, const std::string& stock_id) {
    for (const ButtonInfo& button : buttons_of(dialog)) {
        if (button.stock_id == stock_id) {
            return button.widget;
        }
    }
    return nullptr;
}

GtkWidget* label_of(GtkWidget* dialog) {
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))));
    GtkWidget* label = nullptr;
    for (GList* item = children; item != nullptr; item = item->next) {
        if (GTK_IS_LABEL(item->data)) {
            label = GTK_WIDGET(item->data);
        }
    }
    g_list_free(children);
    return label;
}

Seen look_at(GtkWidget* dialog) {
    Seen seen;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog));
    for (const ButtonInfo& button : buttons_of(dialog)) {
        seen.stock_ids.push_back(button.stock_id);
        if (button.widget == focus) {
            seen.focused = button.stock_id;
        }
    }
    gtk_window_get_default_size(GTK_WINDOW(dialog), &seen.default_width, &seen.default_height);
    if (GtkWidget* label = label_of(dialog)) {
        seen.text = gtk_label_get_text(GTK_LABEL(label));
        gtk_misc_get_padding(GTK_MISC(label), &seen.padding_x, &seen.padding_y);
    }
    g_object_get(dialog, "window-position", &seen.position, nullptr);
    seen.modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    seen.transient = gtk_window_get_transient_for(GTK_WINDOW(dialog)) != nullptr;
    return seen;
}

// Whether the dialog has the keyboard focus from the window manager, so that
// a key press goes to it.
bool has_input_focus(GtkWidget* dialog) {
    return gtk_window_is_active(GTK_WINDOW(dialog)) &&
           gtk_window_has_toplevel_focus(GTK_WINDOW(dialog));
}

// A property of the dialog's X window as 32-bit items; atoms come back as
// their names.
std::vector<long> cardinals(GtkWidget* dialog, const char* property) {
    GdkAtom type = GDK_NONE;
    gint format = 0;
    gint length = 0;
    guchar* data = nullptr;
    std::vector<long> items;
    if (gdk_property_get(gtk_widget_get_window(dialog), gdk_atom_intern(property, FALSE), GDK_NONE,
                         0, 64, FALSE, &type, &format, &length, &data) &&
        format == 32) {
        const auto* values = reinterpret_cast<const long*>(data);
        items.assign(values, values + length / static_cast<gint>(sizeof(long)));
    }
    g_free(data);
    return items;
}

std::vector<std::string> atom_names(GtkWidget* dialog, const char* property) {
    GdkAtom type = GDK_NONE;
    gint format = 0;
    gint length = 0;
    guchar* data = nullptr;
    std::vector<std::string> names;
    if (gdk_property_get(gtk_widget_get_window(dialog), gdk_atom_intern(property, FALSE), GDK_NONE,
                         0, 64, FALSE, &type, &format, &length, &data)) {
        const auto* atoms = reinterpret_cast<const GdkAtom*>(data);
        for (gint i = 0; i < length / static_cast<gint>(sizeof(GdkAtom)); ++i) {
            gchar* name = gdk_atom_name(atoms[i]);
            names.emplace_back(name);
            g_free(name);
        }
    }
    g_free(data);
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

const char* const TITLE = "Dialog under test";

class MessageDialogTest : public testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(find_toplevel(TITLE), nullptr); }
};

TEST_F(MessageDialogTest, OkRowHasTheFocusAndReturnKeyAnswersOne) {
    Seen seen;
    std::unique_ptr<XdotoolRun> press;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        if (!has_input_focus(dialog)) {
            return false;
        }
        seen = look_at(dialog);
        press = std::make_unique<XdotoolRun>("key --clearmodifiers Return");
        return true;
    });
    int result = message_dialog(TITLE, "Press OK");
    ASSERT_TRUE(press);
    EXPECT_EQ(press->status(), 0);
    EXPECT_FALSE(driver.gave_up());
    EXPECT_EQ(result, MSG_RESULT_OK);
    EXPECT_EQ(seen.stock_ids, std::vector<std::string>{"gtk-ok"});
    EXPECT_EQ(seen.focused, "gtk-ok");
    EXPECT_EQ(seen.default_width, 100);
    EXPECT_EQ(seen.default_height, 50);
    EXPECT_EQ(seen.position, GTK_WIN_POS_CENTER);
    EXPECT_FALSE(seen.modal);
    EXPECT_FALSE(seen.transient);
    EXPECT_EQ(find_toplevel(TITLE), nullptr);
}

TEST_F(MessageDialogTest, YesNoWinsOverCancelAndAClickOnNoAnswersSeven) {
    Seen seen;
    std::unique_ptr<XdotoolRun> click;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        GtkWidget* no = button_with(dialog, "gtk-no");
        // Placed by the window manager and laid out before the pointer moves.
        if (!has_input_focus(dialog) || no == nullptr || no->allocation.width <= 1) {
            return false;
        }
        seen = look_at(dialog);
        int x = no->allocation.x + no->allocation.width / 2;
        int y = no->allocation.y + no->allocation.height / 2;
        click = std::make_unique<XdotoolRun>(
            "mousemove --window " + std::to_string(toplevel_xid(dialog)) + " " + std::to_string(x) +
            " " + std::to_string(y) + " click 1");
        return true;
    });
    int result = message_dialog(TITLE, "Yes or no?", MSG_YES_NO | MSG_YES_NO_CANCEL);
    ASSERT_TRUE(click);
    EXPECT_EQ(click->status(), 0);
    EXPECT_EQ(result, MSG_RESULT_NO);
    EXPECT_EQ(seen.stock_ids, (std::vector<std::string>{"gtk-yes", "gtk-no"}));
    EXPECT_EQ(seen.focused, "gtk-yes");
    EXPECT_EQ(seen.default_width, 250);
    EXPECT_EQ(seen.default_height, 50);
}

TEST_F(MessageDialogTest, YesNoCancelRowAnswersEachButtonsCode) {
    const std::vector<std::pair<std::string, int>> presses = {
        {"gtk-cancel", MSG_RESULT_CANCEL}, {"gtk-yes", MSG_RESULT_YES}, {"gtk-no", MSG_RESULT_NO}};
    for (const auto& [stock_id, code] : presses) {
        Seen seen;
        DialogDriver driver(TITLE, [&, stock_id = stock_id](GtkWidget* dialog) {
            seen = look_at(dialog);
            gtk_button_clicked(GTK_BUTTON(button_with(dialog, stock_id)));
            return true;
        });
        EXPECT_EQ(message_dialog(TITLE, "Which?", MSG_YES_NO_CANCEL | 0x40), code) << stock_id;
        EXPECT_EQ(seen.stock_ids, (std::vector<std::string>{"gtk-yes", "gtk-no", "gtk-cancel"}));
        EXPECT_EQ(seen.default_width, 300);
        EXPECT_EQ(seen.default_height, 50);
        // The row names no focus button; the toolkit gives it to the first.
        EXPECT_EQ(seen.focused, "gtk-yes");
        EXPECT_EQ(find_toplevel(TITLE), nullptr);
    }
}

TEST_F(MessageDialogTest, UnknownBitsGiveTheOkRow) {
    Seen seen;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        seen = look_at(dialog);
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-ok")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Only OK", 0x7C), MSG_RESULT_OK);
    EXPECT_EQ(seen.stock_ids, std::vector<std::string>{"gtk-ok"});
}

TEST_F(MessageDialogTest, ADialogDestroyedWithoutAnAnswerReturnsZero) {
    GtkAccelGroup* accelerators = nullptr;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        GSList* groups = gtk_accel_groups_from_object(G_OBJECT(dialog));
        if (groups != nullptr) {
            accelerators = GTK_ACCEL_GROUP(groups->data);
            g_object_add_weak_pointer(G_OBJECT(accelerators),
                                      reinterpret_cast<gpointer*>(&accelerators));
        }
        gtk_widget_destroy(dialog);
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Going away", MSG_YES_NO), 0);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(accelerators, nullptr) << "accelerator group left behind";
}

TEST_F(MessageDialogTest, AnAnsweredDialogLeavesNoAcceleratorGroup) {
    GtkAccelGroup* accelerators = nullptr;
    int groups_seen = 0;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        GSList* groups = gtk_accel_groups_from_object(G_OBJECT(dialog));
        groups_seen = static_cast<int>(g_slist_length(groups));
        if (groups != nullptr) {
            accelerators = GTK_ACCEL_GROUP(groups->data);
            g_object_add_weak_pointer(G_OBJECT(accelerators),
                                      reinterpret_cast<gpointer*>(&accelerators));
        }
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-yes")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Answered", MSG_YES_NO), MSG_RESULT_YES);
    EXPECT_EQ(groups_seen, 1);
    EXPECT_EQ(accelerators, nullptr) << "accelerator group left behind";
}

TEST_F(MessageDialogTest, TextKeepsItsLineBreaksWithTenPixelsOfPadding) {
    Seen seen;
    std::string title;
    DialogDriver driver("Usage \xE2\x82\xAC", [&](GtkWidget* dialog) {
        seen = look_at(dialog);
        title = gtk_window_get_title(GTK_WINDOW(dialog));
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-ok")));
        return true;
    });
    const char* text = "Connect +12V and ground.\nPlug the adapter in.\n\nCost: 5 \xA4";
    EXPECT_EQ(message_dialog("Usage \xA4", text), MSG_RESULT_OK);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(seen.text, "Connect +12V and ground.\nPlug the adapter in.\n\nCost: 5 \xE2\x82\xAC");
    EXPECT_EQ(seen.padding_x, 10);
    EXPECT_EQ(seen.padding_y, 10);
}

TEST_F(MessageDialogTest, WindowManagerIsAskedForMovingAndMinimizingOnly) {
    std::vector<long> hints;
    std::vector<std::string> allowed;
    gint64 managed_at = 0;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        allowed = atom_names(dialog, "_NET_WM_ALLOWED_ACTIONS");
        if (!contains(allowed, "_NET_WM_ACTION_MOVE")) {
            return false; // the window manager has not managed it yet
        }
        // Under load the window manager may announce its defaults before it
        // has applied the hints: give it a few seconds to settle.
        if (managed_at == 0) {
            managed_at = g_get_monotonic_time();
        }
        bool settled = !contains(allowed, "_NET_WM_ACTION_CLOSE") &&
                       contains(allowed, "_NET_WM_ACTION_MINIMIZE");
        if (!settled && g_get_monotonic_time() - managed_at < 5 * G_USEC_PER_SEC) {
            return false;
        }
        hints = cardinals(dialog, "_MOTIF_WM_HINTS");
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-ok")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Hints"), MSG_RESULT_OK);
    ASSERT_GE(hints.size(), 3u);
    EXPECT_EQ(hints[0], 0x3);  // functions and decorations given
    EXPECT_EQ(hints[1], 0x0C); // MOVE | MINIMIZE
    EXPECT_EQ(hints[2], 0x3A); // BORDER | TITLE | MENU | MINIMIZE
    EXPECT_FALSE(contains(allowed, "_NET_WM_ACTION_CLOSE"));
    EXPECT_TRUE(contains(allowed, "_NET_WM_ACTION_MINIMIZE"));
    // Resizing is not asserted: this window manager decides it from the size
    // hints of a resizable toolkit window, not from the function hint.
    EXPECT_FALSE(contains(allowed, "_NET_WM_ACTION_MAXIMIZE_HORZ"));
    EXPECT_FALSE(contains(allowed, "_NET_WM_ACTION_MAXIMIZE_VERT"));
}

TEST_F(MessageDialogTest, AWorkerTakesTheGuiLockWhileTheDialogWaits) {
    std::atomic<bool> worker_done{false};
    std::thread worker;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        if (!worker.joinable()) {
            worker = std::thread([&] {
                gdk_threads_enter();
                gdk_threads_leave();
                worker_done = true;
                g_main_context_wakeup(nullptr);
            });
            return false;
        }
        if (!worker_done) {
            return false;
        }
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-ok")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Workers go on"), MSG_RESULT_OK);
    ASSERT_TRUE(worker.joinable());
    worker.join();
    EXPECT_TRUE(worker_done);
    EXPECT_FALSE(driver.gave_up());
}

TEST_F(MessageDialogTest, ADialogOpenedWhileAnotherWaitsKeepsItsOwnAnswer) {
    int inner_result = -1;
    DialogDriver inner_driver("Inner", [&](GtkWidget* dialog) {
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-ok")));
        return true;
    });
    DialogDriver outer_driver(TITLE, [&](GtkWidget* dialog) {
        if (inner_result == -1) {
            inner_result = message_dialog("Inner", "Nested");
            return false; // the outer dialog must still be open
        }
        gtk_button_clicked(GTK_BUTTON(button_with(dialog, "gtk-no")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Outer", MSG_YES_NO), MSG_RESULT_NO);
    EXPECT_EQ(inner_result, MSG_RESULT_OK);
    EXPECT_FALSE(outer_driver.gave_up());
    EXPECT_EQ(find_toplevel("Inner"), nullptr);
}

} // namespace
