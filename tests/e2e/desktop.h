// Acting on the test display as a person would, through the X server and the
// window manager only (xdotool, wmctrl, import), and reading what the window
// manager was asked for and did. DISPLAY names the display.
#pragma once

#include "tests/support/x_properties.h"

#include <optional>
#include <string>

// A click of the first mouse button at x, y in the client area of the window.
bool click_in_window(unsigned long window, int x, int y);

// A click of the first mouse button at x, y of the screen.
bool click_on_screen(int x, int y);

// A key press and release (xdotool's key names: "Return", "Down"), sent to the
// window that has the keyboard focus.
bool press_key(const std::string& key);

// The window manager's polite close request, as the title bar's close button
// makes it.
bool request_close(unsigned long window);

// A picture of the whole screen in a PNG file.
bool take_screenshot(const std::string& path);

// What the window manager knows of one client window.
struct WindowManagerFacts {
    std::optional<MotifHints> motif;
    std::optional<SizeHints> sizes;
    FrameExtents frame{0, 0, 0, 0}; // zero when unset
    ClientGeometry client{};
};

// Nothing (and a test failure) when the display or the window cannot be read.
std::optional<WindowManagerFacts> read_window_manager_facts(unsigned long window);

// The colour of one pixel of the window's client area as 0xRRGGBB, or nothing.
std::optional<unsigned long> read_pixel(unsigned long window, int x, int y);
