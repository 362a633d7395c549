#include "gui/window_icon.h"

#include "tests/support/temp_folder.h"
#include "tests/support/x_properties.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

namespace {

constexpr const char* ICON_NAME = "lantoric-icon-test";

// The sizes of the default icon every window shows; none when none is set.
std::vector<int> default_icon_sizes() {
    GList* icons = gtk_window_get_default_icon_list();
    std::vector<int> sizes;
    for (GList* icon = icons; icon != nullptr; icon = icon->next) {
        sizes.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(icon->data)));
    }
    g_list_free(icons);
    return sizes;
}

// An icon the theme finds by name is what an installed program has; a build
// run from its folder has none and its windows must stay as they were.
TEST(WindowIcon, SetOnlyWhenTheThemeHasTheIcon) {
    EXPECT_FALSE(window_set_default_icon(ICON_NAME));
    EXPECT_EQ(default_icon_sizes(), std::vector<int>{});

    TempFolder theme_folder;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
    gdk_pixbuf_fill(pixbuf, 0x24507aff);
    std::string path = theme_folder.path_of(std::string(ICON_NAME) + ".png");
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr));
    g_object_unref(pixbuf);
    // A picture directly in a search folder is an icon of every theme.
    gtk_icon_theme_prepend_search_path(gtk_icon_theme_get_default(), theme_folder.path().c_str());

    // Only the sizes a window manager shows are read, not every size the
    // theme has; a window opened afterwards shows them.
    EXPECT_TRUE(window_set_default_icon(ICON_NAME));
    EXPECT_EQ(default_icon_sizes(), (std::vector<int>{16, 32, 48}));
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_realize(window);
    gdk_flush();
    // _NET_WM_ICON: width, height and the pixels, the smallest size first.
    const std::vector<long> icon = x_property_items(x_window(window), "_NET_WM_ICON");
    ASSERT_GE(icon.size(), 2u);
    EXPECT_EQ(icon[0], 16);
    EXPECT_EQ(icon[1], 16);
    gtk_widget_destroy(window);
}

} // namespace
