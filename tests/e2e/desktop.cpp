#include "tests/e2e/desktop.h"

#include "base/owners.h"

#include "tests/support/processes.h"

#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <cstdlib>
#include <memory>

namespace {

// Runs the tool; a failure of the test with its output when it does not
// succeed.
bool act(const std::vector<std::string>& arguments) {
    ToolRun run = run_tool(arguments);
    if (run.status != 0) {
        ADD_FAILURE() << arguments[0] << " " << arguments[1] << " failed (" << run.status
                      << "): " << run.output << run.errors;
    }
    return run.status == 0;
}

using DisplayHandle = OwnedBy<Display, XCloseDisplay>;

// A window that vanishes between two requests must fail the test, not end
// the test program in Xlib's default error handler.
int x_error_count = 0;
int count_x_error(Display*, XErrorEvent*) {
    ++x_error_count;
    return 0;
}

DisplayHandle open_display() {
    XSetErrorHandler(count_x_error);
    x_error_count = 0;
    DisplayHandle display(XOpenDisplay(nullptr));
    if (!display) {
        ADD_FAILURE() << "cannot open the display " << (getenv("DISPLAY") ? getenv("DISPLAY") : "");
    }
    return display;
}

// Whether every request about the window so far went through.
bool no_x_errors(Display* display, unsigned long window) {
    XSync(display, False);
    if (x_error_count != 0) {
        ADD_FAILURE() << "the X server refused a request about window " << x_window_id(window);
    }
    return x_error_count == 0;
}

} // namespace

bool click_in_window(unsigned long window, int x, int y) {
    return act({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                std::to_string(y), "click", "1"});
}

bool click_on_screen(int x, int y) {
    return act({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

bool press_key(const std::string& key) {
    return act({"xdotool", "key", "--clearmodifiers", key});
}

bool request_close(unsigned long window) {
    return act({"wmctrl", "-i", "-c", x_window_id(window)});
}

bool take_screenshot(const std::string& path) {
    return act({"import", "-window", "root", path});
}

std::optional<WindowManagerFacts> read_window_manager_facts(unsigned long window) {
    DisplayHandle display = open_display();
    if (!display) {
        return std::nullopt;
    }
    XWindow x{display.get(), window};
    WindowManagerFacts facts;
    facts.motif = motif_hints(x);
    facts.sizes = size_hints(x);
    facts.frame = frame_extents(x).value_or(FrameExtents{0, 0, 0, 0});
    std::optional<ClientGeometry> client = client_geometry(x);
    if (!no_x_errors(display.get(), window) || !client) {
        ADD_FAILURE() << "cannot read window " << x_window_id(window);
        return std::nullopt;
    }
    facts.client = *client;
    return facts;
}

std::optional<unsigned long> read_pixel(unsigned long window, int x, int y) {
    DisplayHandle display = open_display();
    if (!display) {
        return std::nullopt;
    }
    XImage* image = XGetImage(display.get(), window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!no_x_errors(display.get(), window) || image == nullptr) {
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return std::nullopt;
    }
    const unsigned long pixel = XGetPixel(image, 0, 0);
    // Scale each channel through its mask to eight bits.
    auto channel = [pixel](unsigned long mask) {
        if (mask == 0) {
            return 0UL;
        }
        const int shift = __builtin_ctzl(mask);
        return ((pixel & mask) >> shift) * 255 / (mask >> shift);
    };
    const unsigned long colour = (channel(image->red_mask) << 16) |
                                 (channel(image->green_mask) << 8) | channel(image->blue_mask);
    XDestroyImage(image);
    return colour;
}
