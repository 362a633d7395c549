#include "tests/support/toolkit_checks.h"

#include <atomic>
#include <glib.h>
#include <gtest/gtest.h>

namespace {

std::atomic<int> expecting{0};
std::atomic<int> seen{0};

void check_log(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    bool serious = (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0;
    if (!serious) {
        return;
    }
    seen.fetch_add(1);
    if (expecting.load() == 0) {
        ADD_FAILURE() << "toolkit " << (domain != nullptr ? domain : "") << ": " << message;
    }
}

} // namespace

ExpectToolkitWarnings::ExpectToolkitWarnings() : count_at_start_(seen.load()) {
    expecting.fetch_add(1);
}

ExpectToolkitWarnings::~ExpectToolkitWarnings() {
    expecting.fetch_sub(1);
}

int ExpectToolkitWarnings::count() const {
    return seen.load() - count_at_start_;
}

void install_toolkit_log_checks() {
    g_log_set_default_handler(check_log, nullptr);
}

std::vector<GtkWidget*> children_of(GtkWidget* container) {
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    std::vector<GtkWidget*> children;
    for (GList* item = list; item != nullptr; item = item->next) {
        children.push_back(GTK_WIDGET(item->data));
    }
    g_list_free(list);
    return children;
}

GtkWidget* nth_child(GtkWidget* container, std::size_t index) {
    const std::vector<GtkWidget*> children = children_of(container);
    return index < children.size() ? children[index] : nullptr;
}
