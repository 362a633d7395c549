#include "tests/e2e/desktop.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto TOOL_TIMEOUT = 10s;

// A tool's output goes to a file that is removed with this object.
class OutputFile {
  public:
    OutputFile() {
        char pattern[] = "/tmp/lantoric-e2e-tool.XXXXXX";
        descriptor_ = mkstemp(pattern);
        if (descriptor_ >= 0) {
            path_ = pattern;
        }
    }
    ~OutputFile() {
        if (descriptor_ >= 0) {
            close(descriptor_);
            unlink(path_.c_str());
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    int descriptor() const { return descriptor_; }
    std::string text() const {
        std::ifstream file(path_);
        std::ostringstream out;
        out << file.rdbuf();
        return out.str();
    }

  private:
    int descriptor_ = -1;
    std::string path_;
};

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// A window that vanishes between two requests must fail the test, not end
// the test program in Xlib's default error handler.
int x_error_count = 0;
int count_x_error(Display*, XErrorEvent*) {
    ++x_error_count;
    return 0;
}

DisplayHandle open_display() {
    XSetErrorHandler(count_x_error);
    DisplayHandle display(XOpenDisplay(nullptr));
    if (!display) {
        ADD_FAILURE() << "cannot open the display " << (getenv("DISPLAY") ? getenv("DISPLAY") : "");
    }
    return display;
}

// A property of 32-bit items (returned as long, as Xlib does); empty when unset.
std::vector<long> read_long_property(Display* display, Window window, const char* name) {
    Atom property = XInternAtom(display, name, False);
    Atom actual_type = None;
    int actual_format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display, window, property, 0, 32, False, AnyPropertyType, &actual_type,
                           &actual_format, &count, &remaining, &data) == Success &&
        data != nullptr) {
        if (actual_format == 32) {
            const auto* items = reinterpret_cast<const long*>(data);
            values.assign(items, items + count);
        }
        XFree(data);
    }
    return values;
}

std::string hex(unsigned long window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", window);
    return text;
}

} // namespace

bool run_tool(const std::vector<std::string>& arguments) {
    OutputFile output;
    if (output.descriptor() < 0 || arguments.empty()) {
        ADD_FAILURE() << "cannot run a tool";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output.descriptor(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.descriptor(), STDERR_FILENO);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (auto& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        ADD_FAILURE() << "cannot start " << arguments[0] << ": " << std::strerror(result);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + TOOL_TIMEOUT;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << arguments[0] << " did not finish in time: " << output.text();
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& argument : arguments) {
            line += argument + ' ';
        }
        ADD_FAILURE() << line << "failed: " << output.text();
        return false;
    }
    return true;
}

bool click_in_window(unsigned long window, int x, int y) {
    return run_tool({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                     std::to_string(y), "click", "1"});
}

bool click_on_screen(int x, int y) {
    return run_tool({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

bool press_key(const std::string& key) {
    return run_tool({"xdotool", "key", "--clearmodifiers", key});
}

bool request_close(unsigned long window) {
    return run_tool({"wmctrl", "-i", "-c", hex(window)});
}

bool take_screenshot(const std::string& path) {
    return run_tool({"import", "-window", "root", path});
}

std::optional<WindowManagerFacts> read_window_manager_facts(unsigned long window) {
    DisplayHandle display = open_display();
    if (!display) {
        return std::nullopt;
    }
    x_error_count = 0;
    WindowManagerFacts facts;
    facts.motif_hints = read_long_property(display.get(), window, "_MOTIF_WM_HINTS");
    if (facts.motif_hints.size() > 3) {
        facts.motif_hints.resize(3);
    }
    XSizeHints hints{};
    long supplied = 0;
    if (XGetWMNormalHints(display.get(), window, &hints, &supplied) != 0) {
        if ((hints.flags & PMinSize) != 0) {
            facts.min_width = hints.min_width;
            facts.min_height = hints.min_height;
        }
        if ((hints.flags & PMaxSize) != 0) {
            facts.max_width = hints.max_width;
            facts.max_height = hints.max_height;
        }
    }
    const auto extents = read_long_property(display.get(), window, "_NET_FRAME_EXTENTS");
    if (extents.size() == 4) {
        facts.frame_left = static_cast<int>(extents[0]);
        facts.frame_right = static_cast<int>(extents[1]);
        facts.frame_top = static_cast<int>(extents[2]);
        facts.frame_bottom = static_cast<int>(extents[3]);
    }
    XWindowAttributes attributes{};
    Window child = 0;
    if (XGetWindowAttributes(display.get(), window, &attributes) == 0 ||
        XTranslateCoordinates(display.get(), window, attributes.root, 0, 0, &facts.x, &facts.y,
                              &child) == 0) {
        ADD_FAILURE() << "cannot read the geometry of window " << hex(window);
        return std::nullopt;
    }
    facts.width = attributes.width;
    facts.height = attributes.height;
    facts.screen_width = WidthOfScreen(attributes.screen);
    facts.screen_height = HeightOfScreen(attributes.screen);
    XSync(display.get(), False);
    if (x_error_count != 0) {
        ADD_FAILURE() << "the X server refused a request about window " << hex(window);
        return std::nullopt;
    }
    return facts;
}

std::optional<unsigned long> read_pixel(unsigned long window, int x, int y) {
    DisplayHandle display = open_display();
    if (!display) {
        return std::nullopt;
    }
    x_error_count = 0;
    XImage* image = XGetImage(display.get(), window, x, y, 1, 1, AllPlanes, ZPixmap);
    XSync(display.get(), False);
    if (image == nullptr || x_error_count != 0) {
        if (image != nullptr) {
            XDestroyImage(image);
        }
        ADD_FAILURE() << "cannot read a pixel of window " << hex(window);
        return std::nullopt;
    }
    const unsigned long pixel = XGetPixel(image, 0, 0);
    // Scale each channel through its mask to eight bits.
    auto channel = [pixel](unsigned long mask) {
        if (mask == 0) {
            return 0UL;
        }
        const int shift = __builtin_ctzl(mask);
        const unsigned long maximum = mask >> shift;
        return ((pixel & mask) >> shift) * 255 / maximum;
    };
    const unsigned long colour = (channel(image->red_mask) << 16) |
                                 (channel(image->green_mask) << 8) | channel(image->blue_mask);
    XDestroyImage(image);
    return colour;
}
