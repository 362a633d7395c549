#include "gui/window_icon.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>

namespace {

constexpr const char* ICON_NAME = "lantoric-icon-test";

// The name the toolkit will give every new window, or "" when none is set.
std::string default_icon_name() {
    const char* name = gtk_window_get_default_icon_name();
    return name != nullptr ? name : "";
}

// An icon the theme finds by name is what an installed program has; a build
// run from its folder has none and its windows must stay as they were.
TEST(WindowIcon, SetOnlyWhenTheThemeHasTheIcon) {
    std::string before = default_icon_name();
    EXPECT_FALSE(window_set_default_icon(ICON_NAME));
    EXPECT_EQ(default_icon_name(), before);

    TempFolder theme_folder;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
    gdk_pixbuf_fill(pixbuf, 0x24507aff);
    std::string path = theme_folder.path_of(std::string(ICON_NAME) + ".png");
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr));
    g_object_unref(pixbuf);
    // A picture directly in a search folder is an icon of every theme.
    gtk_icon_theme_prepend_search_path(gtk_icon_theme_get_default(), theme_folder.path().c_str());

    EXPECT_TRUE(window_set_default_icon(ICON_NAME));
    EXPECT_EQ(default_icon_name(), ICON_NAME);
}

} // namespace
