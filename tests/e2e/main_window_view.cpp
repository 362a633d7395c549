#include "tests/e2e/main_window_view.h"

namespace {

// The window's content box: the box the gadget area and the status bar share.
const WidgetState* content_box(const WindowSnapshot& snapshot) {
    const WidgetState* window = main_window(snapshot);
    if (window == nullptr || window->children.empty()) {
        return nullptr;
    }
    return &window->children.front();
}

std::optional<std::string> label_text(const WidgetState* label) {
    if (label == nullptr) {
        return std::nullopt;
    }
    return label->text("text");
}

} // namespace

const WidgetState* main_window(const WindowSnapshot& snapshot) {
    return snapshot.window(MAIN_TITLE);
}

const WidgetState* gadget_area(const WindowSnapshot& snapshot) {
    const WidgetState* box = content_box(snapshot);
    if (box == nullptr) {
        return nullptr;
    }
    for (const auto& child : box->children) {
        if (child.type == "GtkFixed") {
            return &child;
        }
    }
    return nullptr;
}

const WidgetState* gadget(const WindowSnapshot& snapshot, MainGadget number) {
    const WidgetState* area = gadget_area(snapshot);
    if (area == nullptr || static_cast<size_t>(number) >= area->children.size()) {
        return nullptr;
    }
    return &area->children[number];
}

const WidgetState* gadget_label(const WindowSnapshot& snapshot, MainGadget number) {
    const WidgetState* outer = gadget(snapshot, number);
    return outer == nullptr ? nullptr : outer->find("GtkLabel");
}

const WidgetState* port_chooser(const WindowSnapshot& snapshot) {
    const WidgetState* outer = gadget(snapshot, PORT_CHOOSER);
    return outer == nullptr ? nullptr : outer->find("GtkComboBox");
}

const WidgetState* test_button(const WindowSnapshot& snapshot) {
    const WidgetState* outer = gadget(snapshot, TEST_BUTTON);
    return outer == nullptr ? nullptr : outer->find("GtkButton");
}

const WidgetState* status_field(const WindowSnapshot& snapshot) {
    const WidgetState* box = content_box(snapshot);
    if (box == nullptr) {
        return nullptr;
    }
    // The status bar is the content box's row of field frames, below the area.
    for (const auto& child : box->children) {
        if (child.type == "GtkHBox") {
            return child.find("GtkFrame");
        }
    }
    return nullptr;
}

const WidgetState* status_label(const WindowSnapshot& snapshot) {
    const WidgetState* field = status_field(snapshot);
    return field == nullptr ? nullptr : field->find("GtkLabel");
}

std::optional<std::string> status_text(const WindowSnapshot& snapshot) {
    return label_text(status_label(snapshot));
}

std::optional<std::string> transmit_text(const WindowSnapshot& snapshot) {
    return label_text(gadget_label(snapshot, TRANSMIT_FIELD));
}

std::optional<std::string> receive_text(const WindowSnapshot& snapshot) {
    return label_text(gadget_label(snapshot, RECEIVE_FIELD));
}

std::optional<bool> test_button_enabled(const WindowSnapshot& snapshot) {
    const WidgetState* button = test_button(snapshot);
    if (button == nullptr) {
        return std::nullopt;
    }
    return button->number("sensitive") == 1;
}

const WidgetState* notice_window(const WindowSnapshot& snapshot) {
    return snapshot.window(NOTICE_TITLE);
}
