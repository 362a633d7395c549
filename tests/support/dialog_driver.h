// Acting on a toplevel window while the main thread is inside a call that runs
// the toolkit's loop itself (the message dialog, a window's event wait), as a
// person at the screen would.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

// Every 20 ms, on the main loop and holding gui_lock, looks for a shown
// toplevel with exactly this title and calls the step with it until the step
// returns true; it stops when the window has gone after that. A window still
// there 20 s after it was first found is destroyed, so a test whose answer does
// not arrive fails instead of hanging.
class DialogDriver {
  public:
    using Step = std::function<bool(GtkWidget* window)>;
    DialogDriver(std::string title, Step step);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Whether the window had to be destroyed after the deadline.
    bool gave_up() const { return gave_up_; }

  private:
    static gboolean tick(gpointer driver);

    std::string title_;
    Step step_;
    guint source_ = 0;
    gint64 found_at_ = 0;
    bool done_ = false;
    bool gave_up_ = false;
};

// The shown toplevel with exactly this title, or none.
GtkWidget* find_toplevel(const std::string& title);

