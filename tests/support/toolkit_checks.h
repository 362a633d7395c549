// Toolkit warnings and criticals fail the running test unless the test said it
// expects them (a test of a refused call, for example).
#pragma once

#include <gtk/gtk.h>
#include <vector>

// While one of these lives, toolkit warnings and criticals are counted instead
// of failing the test.
class ExpectToolkitWarnings {
  public:
    ExpectToolkitWarnings();
    ~ExpectToolkitWarnings();
    ExpectToolkitWarnings(const ExpectToolkitWarnings&) = delete;
    ExpectToolkitWarnings& operator=(const ExpectToolkitWarnings&) = delete;
    // Warnings and criticals seen since this object was made.
    int count() const;

  private:
    int count_at_start_;
};

// Installs the log handler; called by the GUI tests' main.
void install_toolkit_log_checks();

// A container's children, first to last (the toolkit's list freed at once).
std::vector<GtkWidget*> children_of(GtkWidget* container);

// A container's child at index; null when it has fewer.
GtkWidget* nth_child(GtkWidget* container, std::size_t index);
