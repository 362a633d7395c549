#include "tests/support/x_properties.h"

#include <X11/Xlib.h>
#include <cstdio>
#include <gdk/gdkx.h>

XWindow x_window(GtkWidget* toplevel) {
    GdkWindow* window = gtk_widget_get_window(toplevel);
    // The toolkit's own requests reach the server before the test reads.
    gdk_flush();
    return {GDK_DISPLAY_XDISPLAY(gdk_display_get_default()),
            window != nullptr ? GDK_WINDOW_XID(window) : 0};
}

std::vector<long> x_property_items(XWindow window, const char* property) {
    std::vector<long> items;
    if (window.display == nullptr || window.id == 0) {
        return items;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(window.display, window.id, XInternAtom(window.display, property, False),
                           0, 1024, False, AnyPropertyType, &type, &format, &count, &remaining,
                           &data) == Success &&
        data != nullptr) {
        if (format == 32) {
            const auto* values = reinterpret_cast<const long*>(data);
            items.assign(values, values + count);
        }
        XFree(data);
    }
    return items;
}

std::vector<std::string> x_property_atom_names(XWindow window, const char* property) {
    std::vector<std::string> names;
    for (long atom : x_property_items(window, property)) {
        char* name = XGetAtomName(window.display, static_cast<Atom>(atom));
        names.emplace_back(name != nullptr ? name : "");
        XFree(name);
    }
    return names;
}

std::optional<MotifHints> motif_hints(XWindow window) {
    std::vector<long> items = x_property_items(window, "_MOTIF_WM_HINTS");
    if (items.size() < 3) {
        return std::nullopt;
    }
    return MotifHints{items[0], items[1], items[2]};
}

std::optional<SizeHints> size_hints(XWindow window) {
    std::vector<long> items = x_property_items(window, "WM_NORMAL_HINTS");
    if (items.size() < 9) {
        return std::nullopt;
    }
    return SizeHints{items[0], items[5], items[6], items[7], items[8]};
}

std::optional<FrameExtents> frame_extents(XWindow window) {
    std::vector<long> items = x_property_items(window, "_NET_FRAME_EXTENTS");
    if (items.size() < 4) {
        return std::nullopt;
    }
    return FrameExtents{items[0], items[1], items[2], items[3]};
}

std::optional<ClientGeometry> client_geometry(XWindow window) {
    XWindowAttributes attributes{};
    ClientGeometry geometry{};
    Window child = 0;
    if (window.display == nullptr || window.id == 0 ||
        XGetWindowAttributes(window.display, window.id, &attributes) == 0 ||
        XTranslateCoordinates(window.display, window.id, attributes.root, 0, 0, &geometry.x,
                              &geometry.y, &child) == 0) {
        return std::nullopt;
    }
    geometry.width = attributes.width;
    geometry.height = attributes.height;
    geometry.screen_width = WidthOfScreen(attributes.screen);
    geometry.screen_height = HeightOfScreen(attributes.screen);
    return geometry;
}

std::string x_window_id(unsigned long id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", id);
    return text;
}
