#include "image/image.h"

#include "base/thread_area.h"

#include <gtk/gtk.h>

namespace {

struct ImageRecord {
    GdkPixbuf* pixbuf; // primary handle
};

ObjectTable* image_table = nullptr;
GdkPixmap* drawing_surface = nullptr;

// Per-thread state of a decoder at work; no decoder exists yet, so it is only
// reserved.
constexpr std::size_t DECODER_STATE_SIZE = 2 * sizeof(void*);

} // namespace

void image_init() {
    if (image_table != nullptr) {
        return;
    }
    image_table = registry_create(sizeof(ImageRecord), 16, image_free);
    thread_area_register(DECODER_STATE_SIZE, nullptr, nullptr);
    gdk_rgb_init();
    GdkVisual* visual = gdk_visual_get_system();
    drawing_surface = gdk_pixmap_new(nullptr, 1, 1, visual != nullptr ? visual->depth : 24);
}

void image_finish() {
    if (image_table != nullptr) {
        registry_release_all(image_table);
    }
    if (drawing_surface != nullptr) {
        g_object_unref(drawing_surface);
        drawing_surface = nullptr;
    }
}

object_number image_register(object_number number, GdkPixbuf* pixbuf) {
    if (image_table == nullptr || pixbuf == nullptr) {
        return 0;
    }
    auto* record = static_cast<ImageRecord*>(registry_allocate(image_table, number));
    if (record == nullptr) {
        g_object_unref(pixbuf);
        return 0;
    }
    record->pixbuf = pixbuf;
    return number == OBJECT_ANY ? registry_number_of(image_table, record) : 1;
}

GdkPixbuf* image_pixbuf(object_number number) {
    if (image_table == nullptr) {
        return nullptr;
    }
    auto* record = static_cast<ImageRecord*>(registry_lookup(image_table, number));
    return record != nullptr ? record->pixbuf : nullptr;
}

void image_free(object_number number) {
    if (image_table == nullptr) {
        return;
    }
    registry_release_numbered<ImageRecord>(image_table, number, [number](ImageRecord* record) {
        g_object_unref(record->pixbuf);
        registry_release(image_table, number);
    });
}

GdkPixmap* image_drawing_surface() {
    return drawing_surface;
}
