#include "gui/font.h"

#include "base/owners.h"
#include "gui/text_encoding.h"

#include <limits>

namespace {

struct FontRecord {
    PangoFontDescription* description;
};

ObjectTable* font_table = nullptr;

using OwnedDescription = OwnedBy<PangoFontDescription, pango_font_description_free>;

ObjectTable* table() {
    font_init();
    return font_table;
}

} // namespace

void font_init() {
    registry_create_once(&font_table, sizeof(FontRecord), 16, font_free);
}

object_number font_load(object_number number, const char* name, int size, int flags) {
    ToolkitText converted = text_to_toolkit(name);
    OwnedDescription description(pango_font_description_from_string(converted.get()));
    if (!description) {
        return 0;
    }
    // Pango refuses a negative size with a warning, and a size past the
    // integer range of Pango units would overflow: both keep the name's size.
    if (size >= 0 && size <= std::numeric_limits<int>::max() / PANGO_SCALE) {
        pango_font_description_set_size(description.get(), size * PANGO_SCALE);
    }
    if ((flags & FONT_WEIGHT_BOLD) != 0) {
        pango_font_description_set_weight(description.get(), PANGO_WEIGHT_BOLD);
    }
    if ((flags & FONT_STYLE_ITALIC) != 0) {
        pango_font_description_set_style(description.get(), PANGO_STYLE_ITALIC);
    }
    auto hold = registry_hold(table());
    auto* record = static_cast<FontRecord*>(registry_allocate(table(), number));
    if (record == nullptr) {
        return 0;
    }
    record->description = description.release();
    if (number == OBJECT_ANY) {
        return registry_number_of(table(), record);
    }
    return reinterpret_cast<object_number>(record->description);
}

object_number font_load_plain(object_number number, const char* name, int size) {
    return font_load(number, name, size, 0);
}

PangoFontDescription* font_handle(object_number number) {
    auto hold = registry_hold(table());
    auto* record = static_cast<FontRecord*>(registry_lookup(table(), number));
    return record != nullptr ? record->description : nullptr;
}

void font_free(object_number number) {
    registry_release_numbered<FontRecord>(table(), number, [number](FontRecord* record) {
        pango_font_description_free(record->description);
        registry_release(table(), number);
    });
}

void font_free_all() {
    registry_release_all(table());
}
