#include "tests/support/x_properties.h"

#include <cstdio>
#include <gdk/gdkx.h>

namespace {

struct PropertyData {
    GdkAtom type = GDK_NONE;
    int format = 0;
    int length = 0;
    guchar* data = nullptr;
    ~PropertyData() { g_free(data); }
};

bool read_property(GtkWidget* toplevel, const char* property, PropertyData& out) {
    GdkWindow* window = gtk_widget_get_window(toplevel);
    if (window == nullptr) {
        return false;
    }
    gdk_flush();
    return gdk_property_get(window, gdk_atom_intern(property, FALSE), GDK_NONE, 0, 1024, FALSE,
                            &out.type, &out.format, &out.length, &out.data) != FALSE &&
           out.data != nullptr;
}

} // namespace

std::vector<long> x_property_items(GtkWidget* toplevel, const char* property) {
    PropertyData read;
    if (!read_property(toplevel, property, read) || read.format != 32) {
        return {};
    }
    // The toolkit hands 32-bit items over as the client's longs.
    const auto* items = reinterpret_cast<const long*>(read.data);
    return std::vector<long>(items, items + read.length / static_cast<int>(sizeof(long)));
}

std::optional<MotifHints> motif_hints(GtkWidget* toplevel) {
    std::vector<long> items = x_property_items(toplevel, "_MOTIF_WM_HINTS");
    if (items.size() < 3) {
        return std::nullopt;
    }
    return MotifHints{items[0], items[1], items[2]};
}

std::optional<SizeHints> size_hints(GtkWidget* toplevel) {
    std::vector<long> items = x_property_items(toplevel, "WM_NORMAL_HINTS");
    if (items.size() < 9) {
        return std::nullopt;
    }
    return SizeHints{items[0], items[5], items[6], items[7], items[8]};
}

std::optional<FrameExtents> frame_extents(GtkWidget* toplevel) {
    std::vector<long> items = x_property_items(toplevel, "_NET_FRAME_EXTENTS");
    if (items.size() < 4) {
        return std::nullopt;
    }
    return FrameExtents{items[0], items[1], items[2], items[3]};
}

std::vector<std::string> x_property_atom_names(GtkWidget* toplevel, const char* property) {
    PropertyData read;
    std::vector<std::string> names;
    if (!read_property(toplevel, property, read) || read.type != gdk_atom_intern("ATOM", FALSE)) {
        return names;
    }
    // Atom lists come back already turned into the toolkit's atoms.
    const auto* atoms = reinterpret_cast<const GdkAtom*>(read.data);
    for (int i = 0; i < read.length / static_cast<int>(sizeof(GdkAtom)); ++i) {
        gchar* name = gdk_atom_name(atoms[i]);
        names.emplace_back(name);
        g_free(name);
    }
    return names;
}

GdkRectangle client_geometry(GtkWidget* toplevel) {
    GdkRectangle geometry{};
    GdkWindow* window = gtk_widget_get_window(toplevel);
    if (window == nullptr) {
        return geometry;
    }
    gdk_window_get_origin(window, &geometry.x, &geometry.y);
    gdk_drawable_get_size(window, &geometry.width, &geometry.height);
    return geometry;
}

std::string x_window_id(GtkWidget* toplevel) {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx",
                  static_cast<unsigned long>(GDK_WINDOW_XID(gtk_widget_get_window(toplevel))));
    return id;
}
