#include "gui/message_dialog.h"

#include "gui/text_encoding.h"

#include <gtk/gtk.h>
#include <memory>
#include <vector>

namespace {

// Where the dialog stands: open and unanswered, answered, or destroyed. Kept
// per call rather than process-wide, so that a dialog opened from a handler
// while another waits cannot end the other's wait or change its result.
enum class DialogState { open, answered, destroyed };

struct DialogProgress {
    DialogState state = DialogState::open;
    int result = 0;
};

struct Button {
    const char* stock_id;
    int result;
};

struct ButtonRow {
    std::vector<Button> buttons;
    int width;
    int height;
    bool focus_first;
};

struct AccelGroupRelease {
    void operator()(GtkAccelGroup* group) const { g_object_unref(group); }
};

constexpr int LABEL_PADDING = 10;
constexpr int DIALOG_HEIGHT = 50;

ButtonRow row_for(int flags) {
    if ((flags & MSG_YES_NO) != 0) {
        return {{{GTK_STOCK_YES, MSG_RESULT_YES}, {GTK_STOCK_NO, MSG_RESULT_NO}},
                250,
                DIALOG_HEIGHT,
                true};
    }
    if ((flags & MSG_YES_NO_CANCEL) != 0) {
        return {{{GTK_STOCK_YES, MSG_RESULT_YES},
                 {GTK_STOCK_NO, MSG_RESULT_NO},
                 {GTK_STOCK_CANCEL, MSG_RESULT_CANCEL}},
                300,
                DIALOG_HEIGHT,
                false};
    }
    return {{{GTK_STOCK_OK, MSG_RESULT_OK}}, 100, DIALOG_HEIGHT, true};
}

void on_destroyed(GtkWidget*, gpointer progress) {
    static_cast<DialogProgress*>(progress)->state = DialogState::destroyed;
}

// What pressing one button of a call's dialog does.
struct Answer {
    DialogProgress* progress;
    int result;
};

void on_answer(GtkWidget*, gpointer data) {
    const auto* answer = static_cast<const Answer*>(data);
    answer->progress->state = DialogState::answered;
    answer->progress->result = answer->result;
}

} // namespace

int message_dialog(const char* title, const char* text, int flags) {
    DialogProgress progress;
    GtkWidget* dialog = gtk_dialog_new();
    GtkWidget* label = gtk_label_new(text_to_toolkit(text).get());
    gtk_window_set_title(GTK_WINDOW(dialog), text_to_toolkit(title).get());
    gtk_window_set_default_size(GTK_WINDOW(dialog), 300, DIALOG_HEIGHT);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_destroyed), &progress);

    // Released on every path, also when the dialog was destroyed from outside;
    // the window holds its own reference while it lives.
    std::unique_ptr<GtkAccelGroup, AccelGroupRelease> accelerators(gtk_accel_group_new());

    ButtonRow row = row_for(flags);
    GtkWidget* action_area = gtk_dialog_get_action_area(GTK_DIALOG(dialog));
    // Outlives the dialog: the buttons' handlers go with them when it is destroyed.
    std::vector<Answer> answers;
    answers.reserve(row.buttons.size());
    GtkWidget* first = nullptr;
    for (const Button& entry : row.buttons) {
        GtkWidget* button = gtk_button_new_from_stock(entry.stock_id);
        answers.push_back({&progress, entry.result});
        g_signal_connect(button, "clicked", G_CALLBACK(on_answer), &answers.back());
        gtk_container_add(GTK_CONTAINER(action_area), button);
        if (first == nullptr) {
            first = button;
        }
    }
    gtk_window_set_default_size(GTK_WINDOW(dialog), row.width, row.height);
    if (row.focus_first) {
        gtk_widget_grab_focus(first);
    }
    gtk_window_add_accel_group(GTK_WINDOW(dialog), accelerators.get());

    gtk_misc_set_padding(GTK_MISC(label), LABEL_PADDING, LABEL_PADDING);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), label);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

    // Decorations and functions need the GDK window: the window manager is
    // not asked to offer closing, resizing or maximizing.
    gtk_widget_realize(dialog);
    GdkWindow* window = gtk_widget_get_window(dialog);
    gdk_window_set_decorations(window,
                               static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE |
                                                            GDK_DECOR_MENU | GDK_DECOR_MINIMIZE));
    gdk_window_set_functions(window, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE));
    gtk_widget_show_all(dialog);

    // Each iteration releases gui_lock while it blocks, so workers go on.
    while (progress.state == DialogState::open) {
        gtk_main_iteration();
    }
    if (progress.state == DialogState::answered) {
        gtk_widget_destroy(dialog);
    }
    while (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
    }
    return progress.result;
}

int message_dialog(const char* title, const char* text) {
    return message_dialog(title, text, 0);
}
