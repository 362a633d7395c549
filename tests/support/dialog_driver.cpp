#include "tests/support/dialog_driver.h"

#include <utility>

namespace {

constexpr guint TICK_MS = 20;
constexpr gint64 GIVE_UP_US = 20 * G_USEC_PER_SEC;

} // namespace

GtkWidget* find_toplevel(const std::string& title) {
    GList* toplevels = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* item = toplevels; item != nullptr && found == nullptr; item = item->next) {
        auto* window = static_cast<GtkWidget*>(item->data);
        const char* window_title = gtk_window_get_title(GTK_WINDOW(window));
        if (window_title != nullptr && title == window_title && gtk_widget_get_visible(window)) {
            found = window;
        }
    }
    g_list_free(toplevels);
    return found;
}

DialogDriver::DialogDriver(std::string title, Step step)
    : title_(std::move(title)), step_(std::move(step)) {
    // With the GDK lock, as toolkit work from a timeout must be.
    source_ = gdk_threads_add_timeout(TICK_MS, tick, this);
}

DialogDriver::~DialogDriver() {
    if (source_ != 0) {
        g_source_remove(source_);
    }
}

gboolean DialogDriver::tick(gpointer data) {
    auto* driver = static_cast<DialogDriver*>(data);
    GtkWidget* window = find_toplevel(driver->title_);
    if (window == nullptr) {
        if (driver->done_) {
            driver->source_ = 0;
            return FALSE;
        }
        return TRUE;
    }
    if (driver->found_at_ == 0) {
        driver->found_at_ = g_get_monotonic_time();
    }
    if (!driver->done_ && driver->step_(window)) {
        driver->done_ = true;
    }
    // Also after the step: an answer that went astray (a click that missed)
    // must not leave the test waiting for ever.
    if (g_get_monotonic_time() - driver->found_at_ > GIVE_UP_US) {
        driver->gave_up_ = true;
        gtk_widget_destroy(window);
        driver->source_ = 0;
        return FALSE;
    }
    return TRUE;
}
