#include "gui/window_icon.h"

#include <gtk/gtk.h>

bool window_set_default_icon(const char* name) {
    // A build run from its folder finds no such icon: its windows keep the
    // toolkit's defaults untouched rather than a name that draws nothing.
    if (!gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), name)) {
        return false;
    }
    gtk_window_set_default_icon_name(name);
    return true;
}
