#include "gui/message_dialog.h"

#include "tests/support/dialog_driver.h"
#include "tests/support/processes.h"
#include "tests/support/x_properties.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <optional>
#include "tests/support/toolkit_checks.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const TITLE = "Dialog under test";

// What the open dialog shows.
struct Seen {
    std::vector<std::string> buttons; // stock ids, left to right
    std::string focused;              // stock id of the window's focus button
    int width = 0;                    // default size
    int height = 0;
    std::string text;
    int padding_x = -1;
    int padding_y = -1;
};

GtkWidget* button(GtkWidget* dialog, const std::string& stock_id) {
    for (GtkWidget* child : children_of(gtk_dialog_get_action_area(GTK_DIALOG(dialog)))) {
        if (stock_id == gtk_button_get_label(GTK_BUTTON(child))) {
            return child;
        }
    }
    return nullptr;
}

Seen look_at(GtkWidget* dialog) {
    Seen seen;
    for (GtkWidget* child : children_of(gtk_dialog_get_action_area(GTK_DIALOG(dialog)))) {
        EXPECT_TRUE(gtk_button_get_use_stock(GTK_BUTTON(child)));
        seen.buttons.emplace_back(gtk_button_get_label(GTK_BUTTON(child)));
        if (child == gtk_window_get_focus(GTK_WINDOW(dialog))) {
            seen.focused = seen.buttons.back();
        }
    }
    gtk_window_get_default_size(GTK_WINDOW(dialog), &seen.width, &seen.height);
    for (GtkWidget* child : children_of(gtk_dialog_get_content_area(GTK_DIALOG(dialog)))) {
        if (GTK_IS_LABEL(child)) {
            seen.text = gtk_label_get_text(GTK_LABEL(child));
            gtk_misc_get_padding(GTK_MISC(child), &seen.padding_x, &seen.padding_y);
        }
    }
    return seen;
}

// Placed by the window manager and given the keyboard focus.
bool has_input_focus(GtkWidget* dialog) {
    return gtk_window_is_active(GTK_WINDOW(dialog)) &&
           gtk_window_has_toplevel_focus(GTK_WINDOW(dialog));
}

bool allows(const std::vector<std::string>& actions, const char* action) {
    return std::find(actions.begin(), actions.end(), action) != actions.end();
}

class MessageDialogTest : public testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(find_toplevel(TITLE), nullptr); }
};

TEST_F(MessageDialogTest, OkRowHasTheFocusAndTheReturnKeyAnswersOne) {
    Seen seen;
    std::future<ToolRun> press;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        if (!has_input_focus(dialog)) {
            return false;
        }
        seen = look_at(dialog);
        GtkWindowPosition position = GTK_WIN_POS_NONE;
        g_object_get(dialog, "window-position", &position, nullptr);
        EXPECT_EQ(position, GTK_WIN_POS_CENTER);
        EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), nullptr);
        press = run_tool_async({"xdotool", "key", "--clearmodifiers", "Return"});
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Press OK"), MSG_RESULT_OK);
    ASSERT_TRUE(press.valid());
    EXPECT_EQ(press.get().status, 0);
    EXPECT_EQ(seen.buttons, std::vector<std::string>{"gtk-ok"});
    EXPECT_EQ(seen.focused, "gtk-ok");
    EXPECT_EQ(seen.width, 100);
    EXPECT_EQ(seen.height, 50);
}

TEST_F(MessageDialogTest, YesNoWinsOverCancelAndAClickOnNoAnswersSeven) {
    Seen seen;
    std::future<ToolRun> click;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        GtkWidget* no = button(dialog, "gtk-no");
        if (!has_input_focus(dialog) || no->allocation.width <= 1) {
            return false;
        }
        seen = look_at(dialog);
        click = run_tool_async({"xdotool", "mousemove", "--window",
                                std::to_string(x_window(dialog).id),
                                std::to_string(no->allocation.x + no->allocation.width / 2),
                                std::to_string(no->allocation.y + no->allocation.height / 2),
                                "click", "1"});
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Yes or no?", MSG_YES_NO | MSG_YES_NO_CANCEL), MSG_RESULT_NO);
    ASSERT_TRUE(click.valid());
    EXPECT_EQ(click.get().status, 0);
    EXPECT_EQ(seen.buttons, (std::vector<std::string>{"gtk-yes", "gtk-no"}));
    EXPECT_EQ(seen.focused, "gtk-yes");
    EXPECT_EQ(seen.width, 250);
    EXPECT_EQ(seen.height, 50);
}

TEST_F(MessageDialogTest, YesNoCancelRowAnswersEachButtonsCode) {
    for (const auto& [stock_id, code] :
         std::vector<std::pair<std::string, int>>{{"gtk-cancel", MSG_RESULT_CANCEL},
                                                  {"gtk-yes", MSG_RESULT_YES},
                                                  {"gtk-no", MSG_RESULT_NO}}) {
        Seen seen;
        DialogDriver driver(TITLE, [&, stock_id = stock_id](GtkWidget* dialog) {
            seen = look_at(dialog);
            gtk_button_clicked(GTK_BUTTON(button(dialog, stock_id)));
            return true;
        });
        EXPECT_EQ(message_dialog(TITLE, "Which?", MSG_YES_NO_CANCEL | 0x40), code) << stock_id;
        EXPECT_EQ(seen.buttons, (std::vector<std::string>{"gtk-yes", "gtk-no", "gtk-cancel"}));
        EXPECT_EQ(seen.focused, "gtk-yes"); // none named: the toolkit takes the first
        EXPECT_EQ(seen.width, 300);
        EXPECT_EQ(find_toplevel(TITLE), nullptr);
    }
}

TEST_F(MessageDialogTest, DestroyedDialogReturnsZeroAndNoPathKeepsTheAcceleratorGroup) {
    for (bool answer : {false, true}) {
        GtkAccelGroup* accelerators = nullptr;
        DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
            GSList* groups = gtk_accel_groups_from_object(G_OBJECT(dialog));
            EXPECT_EQ(g_slist_length(groups), 1u);
            accelerators = GTK_ACCEL_GROUP(groups->data);
            g_object_add_weak_pointer(G_OBJECT(accelerators),
                                      reinterpret_cast<gpointer*>(&accelerators));
            if (answer) {
                gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-yes")));
            } else {
                gtk_widget_destroy(dialog);
            }
            return true;
        });
        EXPECT_EQ(message_dialog(TITLE, "Going away", MSG_YES_NO), answer ? MSG_RESULT_YES : 0);
        EXPECT_EQ(accelerators, nullptr) << "accelerator group left behind";
    }
}

TEST_F(MessageDialogTest, TextKeepsItsLineBreaksWithTenPixelsOfPadding) {
    Seen seen;
    DialogDriver driver("Usage \xE2\x82\xAC", [&](GtkWidget* dialog) {
        seen = look_at(dialog);
        gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-ok")));
        return true;
    });
    EXPECT_EQ(message_dialog("Usage \xA4", "Connect +12V.\nPlug it in.\n\nCost: 5 \xA4"),
              MSG_RESULT_OK);
    EXPECT_EQ(seen.text, "Connect +12V.\nPlug it in.\n\nCost: 5 \xE2\x82\xAC");
    EXPECT_EQ(seen.padding_x, 10);
    EXPECT_EQ(seen.padding_y, 10);
}

TEST_F(MessageDialogTest, WindowManagerIsAskedForMovingAndMinimizingOnly) {
    std::optional<MotifHints> hints;
    std::vector<std::string> actions;
    gint64 managed_at = 0;
    DialogDriver driver(TITLE, [&](GtkWidget* dialog) {
        actions = x_property_atom_names(x_window(dialog), "_NET_WM_ALLOWED_ACTIONS");
        if (!allows(actions, "_NET_WM_ACTION_MOVE")) {
            return false; // not managed yet
        }
        // Under load the window manager may announce its defaults before it
        // has applied the hints: give it a few seconds to settle.
        managed_at = managed_at != 0 ? managed_at : g_get_monotonic_time();
        bool settled = !allows(actions, "_NET_WM_ACTION_CLOSE");
        if (!settled && g_get_monotonic_time() - managed_at < 5 * G_USEC_PER_SEC) {
            return false;
        }
        hints = motif_hints(x_window(dialog));
        gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-ok")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Hints"), MSG_RESULT_OK);
    ASSERT_TRUE(hints);
    EXPECT_EQ(hints->flags, 0x3);        // functions and decorations given
    EXPECT_EQ(hints->functions, 0x0C);   // MOVE | MINIMIZE
    EXPECT_EQ(hints->decorations, 0x3A); // BORDER | TITLE | MENU | MINIMIZE
    EXPECT_TRUE(allows(actions, "_NET_WM_ACTION_MINIMIZE"));
    EXPECT_FALSE(allows(actions, "_NET_WM_ACTION_CLOSE"));
    EXPECT_FALSE(allows(actions, "_NET_WM_ACTION_MAXIMIZE_HORZ"));
    // Resizing is not asserted: this window manager decides it from the size
    // hints of a resizable toolkit window, not from the function hint.
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
        }
        if (worker_done) {
            gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-ok")));
        }
        return worker_done.load();
    });
    EXPECT_EQ(message_dialog(TITLE, "Workers go on"), MSG_RESULT_OK);
    ASSERT_TRUE(worker.joinable());
    worker.join();
    EXPECT_FALSE(driver.gave_up());
}

TEST_F(MessageDialogTest, ADialogOpenedWhileAnotherWaitsKeepsItsOwnAnswer) {
    int inner_result = -1;
    DialogDriver inner_driver("Inner", [&](GtkWidget* dialog) {
        gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-ok")));
        return true;
    });
    DialogDriver outer_driver(TITLE, [&](GtkWidget* dialog) {
        if (inner_result == -1) {
            inner_result = message_dialog("Inner", "Nested");
            return false; // the outer dialog must still be open
        }
        gtk_button_clicked(GTK_BUTTON(button(dialog, "gtk-no")));
        return true;
    });
    EXPECT_EQ(message_dialog(TITLE, "Outer", MSG_YES_NO), MSG_RESULT_NO);
    EXPECT_EQ(inner_result, MSG_RESULT_OK);
    EXPECT_FALSE(outer_driver.gave_up());
    EXPECT_EQ(find_toplevel("Inner"), nullptr);
}

} // namespace
