// The parts of lantoric's windows as a snapshot shows them. Every accessor
// returns null or nothing when the part is not there, so a wait can go on.
#pragma once

#include "app/core/loopback_exchange.h"
#include "tests/e2e/window_snapshot.h"

#include <optional>
#include <string>

inline const std::string MAIN_TITLE = "Lantoric V1.01";
inline const std::string NOTICE_TITLE = "Usage";

// The gadgets of the main window, numbered in the order they are made.
enum MainGadget {
    PORT_LABEL = 0,
    PORT_CHOOSER = 1,
    TEST_BUTTON = 2,
    TRANSMIT_LABEL = 3,
    TRANSMIT_FIELD = 4,
    RECEIVE_LABEL = 5,
    RECEIVE_FIELD = 6,
};

const WidgetState* main_window(const WindowSnapshot& snapshot);

// The fixed-position area that holds the gadgets.
const WidgetState* gadget_area(const WindowSnapshot& snapshot);

// The widget that stands for a gadget in the gadget area (its outermost one).
const WidgetState* gadget(const WindowSnapshot& snapshot, MainGadget number);

// The label that shows a text gadget's text or the button's caption.
const WidgetState* gadget_label(const WindowSnapshot& snapshot, MainGadget number);

const WidgetState* port_chooser(const WindowSnapshot& snapshot);
const WidgetState* test_button(const WindowSnapshot& snapshot);

// The status bar's one field (its frame) and the label in it.
const WidgetState* status_field(const WindowSnapshot& snapshot);
const WidgetState* status_label(const WindowSnapshot& snapshot);

std::optional<std::string> status_text(const WindowSnapshot& snapshot);
std::optional<std::string> transmit_text(const WindowSnapshot& snapshot);
std::optional<std::string> receive_text(const WindowSnapshot& snapshot);
// Whether the Test button can be pressed; nothing when there is no button.
std::optional<bool> test_button_enabled(const WindowSnapshot& snapshot);

// The notice window and its parts.
const WidgetState* notice_window(const WindowSnapshot& snapshot);
