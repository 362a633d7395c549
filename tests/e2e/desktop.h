// Acting on the test display as a person would, through the X server and the
// window manager only (xdotool, wmctrl, import), and reading what the window
// manager was asked for and did (Xlib). DISPLAY names the display.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs a tool with these arguments, without a shell, for at most ten seconds.
// True when it ran and exited with status 0; otherwise the test fails with the
// tool's output.
bool run_tool(const std::vector<std::string>& arguments);

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
    // _MOTIF_WM_HINTS: flags, functions, decorations (empty when unset).
    std::vector<long> motif_hints;
    // WM_NORMAL_HINTS minimum and maximum size (-1 when not given).
    int min_width = -1;
    int min_height = -1;
    int max_width = -1;
    int max_height = -1;
    // _NET_FRAME_EXTENTS: left, right, top, bottom (0 when unset).
    int frame_left = 0;
    int frame_right = 0;
    int frame_top = 0;
    int frame_bottom = 0;
    // The client area on the screen.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int screen_width = 0;
    int screen_height = 0;
};

// Nothing (and a test failure) when the display or the window cannot be read.
std::optional<WindowManagerFacts> read_window_manager_facts(unsigned long window);

// The colour of one pixel of the window's client area as 0xRRGGBB, or nothing.
std::optional<unsigned long> read_pixel(unsigned long window, int x, int y);
