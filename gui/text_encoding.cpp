#include "gui/text_encoding.h"

#include <cstddef>

ToolkitText text_to_toolkit(const char* text) {
    if (text == nullptr) {
        return ToolkitText(g_strdup(""));
    }
    gchar* converted = g_convert(text, -1, "UTF-8", "ISO-8859-15", nullptr, nullptr, nullptr);
    if (converted == nullptr) {
        return ToolkitText(g_strdup(text));
    }
    return ToolkitText(converted);
}
