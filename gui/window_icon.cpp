#include "gui/window_icon.h"

#include "base/owners.h"

#include <cstring>
#include <gtk/gtk.h>

namespace {

// The sizes window managers show. Named, the icon would be read at every size
// the theme has, up to 256 x 256, into every start.
constexpr int ICON_SIZES[] = {16, 32, 48};

using OwnedIconInfo = OwnedBy<GtkIconInfo, gtk_icon_info_free>;
using OwnedLoader = OwnedBy<GdkPixbufLoader, g_object_unref>;
using OwnedContents = OwnedBy<gchar, g_free>;

// A PNG read with the PNG loader named outright: finding the loader by the
// file's content would start GIO's MIME database, about a megabyte more in
// every start, for a type the file's name already gives.
GdkPixbuf* load_png(const char* file) {
    gchar* raw = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(file, &raw, &length, nullptr)) {
        return nullptr;
    }
    OwnedContents contents(raw);
    OwnedLoader loader(gdk_pixbuf_loader_new_with_type("png", nullptr));
    if (!loader ||
        !gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(contents.get()),
                                 length, nullptr) ||
        !gdk_pixbuf_loader_close(loader.get(), nullptr)) {
        return nullptr;
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    return pixbuf != nullptr ? GDK_PIXBUF(g_object_ref(pixbuf)) : nullptr;
}

// The picture scaled to size x size, unless it is so already.
GdkPixbuf* at_size(GdkPixbuf* picture, int size) {
    if (picture == nullptr ||
        (gdk_pixbuf_get_width(picture) == size && gdk_pixbuf_get_height(picture) == size)) {
        return picture;
    }
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(picture, size, size, GDK_INTERP_BILINEAR);
    g_object_unref(picture);
    return scaled;
}

// The icon at size: its PNG of that size read as it is, any other picture
// through the theme; scaled to the size where it has another.
GdkPixbuf* load_icon(GtkIconTheme* theme, const char* name, int size) {
    OwnedIconInfo info(gtk_icon_theme_lookup_icon(theme, name, size, GTK_ICON_LOOKUP_FORCE_SIZE));
    if (!info) {
        return nullptr;
    }
    const char* file = gtk_icon_info_get_filename(info.get());
    const std::size_t length = file != nullptr ? std::strlen(file) : 0;
    if (length > 4 && std::strcmp(file + length - 4, ".png") == 0 &&
        gtk_icon_info_get_base_size(info.get()) == size) {
        if (GdkPixbuf* pixbuf = load_png(file)) {
            return at_size(pixbuf, size);
        }
    }
    return at_size(gtk_icon_info_load_icon(info.get(), nullptr), size);
}

} // namespace

bool window_set_default_icon(const char* name) {
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    // A build run from its folder finds no such icon: its windows keep the
    // toolkit's defaults untouched rather than a name that draws nothing.
    if (!gtk_icon_theme_has_icon(theme, name)) {
        return false;
    }
    GList* icons = nullptr;
    for (int size : ICON_SIZES) {
        if (GdkPixbuf* icon = load_icon(theme, name, size)) {
            icons = g_list_append(icons, icon);
        }
    }
    gtk_window_set_default_icon_list(icons);
    const bool set = icons != nullptr;
    g_list_free_full(icons, g_object_unref);
    return set;
}
