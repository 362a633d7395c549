#include "tests/e2e/lantoric_session.h"

#include "tests/e2e/desktop.h"
#include "tests/support/device_links.h"
#include "tests/support/processes.h"
#include "tests/support/wait_until.h"

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace {

// Where the Test button's centre lies inside the gadget area.
constexpr int TEST_BUTTON_CENTRE_X = 250 + 40 / 2;
constexpr int TEST_BUTTON_CENTRE_Y = 10 + 25 / 2;

// Port discovery lists /dev whole: run by root, the program under test sees
// only the links these tests make there, whatever is plugged in.
const bool in_own_devices = run_in_own_devices();

// How long a test made by another test program may take to remove its links.
constexpr auto FOREIGN_LINK_GRACE = 10s;

bool notice_ready(const WindowSnapshot& snapshot) {
    const WidgetState* notice = notice_window(snapshot);
    if (notice == nullptr || notice->number("mapped") != 1 || notice->number("active") != 1) {
        return false;
    }
    const WidgetState* button = notice->find("GtkButton");
    return button != nullptr && button->number("focus") == 1;
}

// Complete: the status bar, made last, is placed and shows its first text.
bool main_window_ready(const WindowSnapshot& snapshot) {
    const WidgetState* window = main_window(snapshot);
    const WidgetState* field = status_field(snapshot);
    return window != nullptr && window->number("mapped") == 1 && window->has("xid") &&
           gadget(snapshot, RECEIVE_FIELD) != nullptr && field != nullptr &&
           field->number("mapped") == 1 && field->number("width") > 1 &&
           !status_text(snapshot).value_or("").empty();
}

long centre(const WidgetState& widget, const char* position, const char* size) {
    return widget.number(position) + widget.number(size) / 2;
}

} // namespace

std::string artifacts_folder() {
    const char* folder = std::getenv("LANTORIC_ARTIFACTS");
    return folder != nullptr && *folder != '\0' ? folder : LANTORIC_E2E_BUILD_FOLDER;
}

void LantoricSession::SetUp() {
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(display != nullptr && *display != '\0')
        << "the end-to-end tests run on a display (tools/with-display.sh)";
    remove_stale_test_links();
    std::vector<std::string> entries;
    wait_until([&] { return (entries = usb_device_entries()).empty(); }, FOREIGN_LINK_GRACE);
    std::string list;
    bool made_by_tests = false;
    for (const auto& entry : entries) {
        list += entry + ' ';
        made_by_tests = made_by_tests || is_test_link(entry);
    }
    ASSERT_FALSE(made_by_tests) << "another test program keeps links under /dev: " << list;
    if (!entries.empty()) {
        ASSERT_FALSE(in_own_devices) << "devices in the test's own /dev: " << list;
        GTEST_SKIP() << "without root the tests share /dev, and these devices would change "
                        "every port list: "
                     << list;
    }
}

void LantoricSession::TearDown() {
    end_run();
}

std::optional<WindowSnapshot> LantoricSession::launch() {
    end_run();
    run_ = std::make_unique<ProgramRun>();
    main_window_id_ = 0;
    if (!run_->start()) {
        return std::nullopt;
    }
    return run_->wait_for("the usage notice, shown with its OK button focused", notice_ready, 20s);
}

std::optional<WindowSnapshot> LantoricSession::answer_notice() {
    if (!press_key("Return")) {
        return std::nullopt;
    }
    auto snapshot = run_->wait_for("the main window", main_window_ready, 20s);
    if (snapshot) {
        main_window_id_ = static_cast<unsigned long>(main_window(*snapshot)->number("xid"));
    }
    return snapshot;
}

std::optional<WindowSnapshot> LantoricSession::start_program() {
    if (!launch()) {
        return std::nullopt;
    }
    return answer_notice();
}

bool LantoricSession::click_test() {
    const WindowSnapshot snapshot = run_->snapshot();
    const WidgetState* area = gadget_area(snapshot);
    if (area == nullptr || main_window_id_ == 0) {
        ADD_FAILURE() << "no gadget area to click in\n" << describe(snapshot);
        return false;
    }
    return click_in_window(main_window_id_,
                           static_cast<int>(area->number("x") + TEST_BUTTON_CENTRE_X),
                           static_cast<int>(area->number("y") + TEST_BUTTON_CENTRE_Y));
}

std::optional<WindowSnapshot> LantoricSession::wait_for_verdict(const std::string& verdict,
                                                                std::chrono::milliseconds timeout) {
    return run_->wait_for(
        "the verdict \"" + verdict + "\" with the Test button enabled",
        [&verdict](const WindowSnapshot& s) {
            return status_text(s) == verdict && test_button_enabled(s) == true;
        },
        timeout);
}

bool LantoricSession::choose_port(long index) {
    const WindowSnapshot before = run_->snapshot();
    const WidgetState* chooser = gadget(before, PORT_CHOOSER);
    if (chooser == nullptr) {
        ADD_FAILURE() << "no port chooser\n" << describe(before);
        return false;
    }
    if (!click_in_window(main_window_id_, static_cast<int>(centre(*chooser, "x", "width")),
                         static_cast<int>(centre(*chooser, "y", "height")))) {
        return false;
    }
    // The open list is a pop-up window of its own, one menu item per port.
    auto open = run_->wait_for("the port chooser's list", [index](const WindowSnapshot& s) {
        for (const WidgetState* popup : s.shown_popups()) {
            auto items = popup->find_all("GtkMenuItem");
            if (static_cast<long>(items.size()) > index && items[index]->number("mapped") == 1) {
                return true;
            }
        }
        return false;
    });
    if (!open) {
        return false;
    }
    for (const WidgetState* popup : open->shown_popups()) {
        auto items = popup->find_all("GtkMenuItem");
        if (static_cast<long>(items.size()) <= index) {
            continue;
        }
        const WidgetState& item = *items[index];
        if (!click_on_screen(
                static_cast<int>(popup->number("screen_x") + centre(item, "x", "width")),
                static_cast<int>(popup->number("screen_y") + centre(item, "y", "height")))) {
            return false;
        }
        break;
    }
    return run_
        ->wait_for("the port chooser closed on item " + std::to_string(index),
                   [index](const WindowSnapshot& s) {
                       const WidgetState* combo = port_chooser(s);
                       return s.shown_popups().empty() && combo != nullptr &&
                              combo->number("active") == index;
                   })
        .has_value();
}

bool LantoricSession::select_port(const std::string& path) {
    const WindowSnapshot snapshot = run_->snapshot();
    const WidgetState* chooser = port_chooser(snapshot);
    if (chooser == nullptr) {
        ADD_FAILURE() << "no port chooser\n" << describe(snapshot);
        return false;
    }
    const auto items = chooser->combo_items();
    const auto found = std::find(items.begin(), items.end(), path);
    if (found == items.end()) {
        ADD_FAILURE() << "the port chooser does not offer " << path << "\n" << describe(*chooser);
        return false;
    }
    const long index = static_cast<long>(found - items.begin());
    return chooser->number("active") == index || choose_port(index);
}

void LantoricSession::close_and_expect_exit(std::chrono::milliseconds timeout) {
    ASSERT_TRUE(run_ && main_window_id_ != 0) << "no main window to close";
    ASSERT_TRUE(request_close(main_window_id_));
    const auto status = run_->wait_for_exit(timeout);
    ASSERT_TRUE(status.has_value())
        << "the program still runs " << timeout.count() << " ms after the close request\n"
        << describe(run_->snapshot()) << run_->error_output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "the program ended with " << describe_wait_status(*status) << "\n"
        << run_->error_output();
    end_run();
}

void LantoricSession::end_run() {
    if (!run_) {
        return;
    }
    const bool was_running = run_->running();
    const std::string faults = run_->fault_reports();
    EXPECT_TRUE(faults.empty()) << "the program reported faults" << (was_running ? "" : " at exit")
                                << ":\n"
                                << run_->error_output();
    EXPECT_EQ(run_->standard_output(), "") << "the program printed on its standard output";
    run_.reset();
}
