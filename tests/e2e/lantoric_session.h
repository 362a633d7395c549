// The fixture of the end-to-end tests: runs of the real lantoric program on the
// test display, driven as a person would drive it (the keyboard for the
// notice, mouse clicks in the window, the window manager's close request) and
// watched through the snapshot module. Every run is ended by the fixture, and
// its error output must hold no sanitizer report and no toolkit warning.
#pragma once

#include "tests/e2e/main_window_view.h"
#include "tests/e2e/program_run.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

class LantoricSession : public ::testing::Test {
  protected:
    // Fails without a display. Run by root, the test program has a /dev of its
    // own; without root, skipped when /dev holds ttyUSB devices that no test
    // made (a real adapter would change every port list).
    void SetUp() override;
    void TearDown() override;

    // Starts the program and waits until the usage notice is shown with the
    // keyboard focus. Its snapshot, or nothing after a test failure.
    std::optional<WindowSnapshot> launch();
    // Answers the notice with the Return key and waits for the complete main
    // window.
    std::optional<WindowSnapshot> answer_notice();
    // Both of the above.
    std::optional<WindowSnapshot> start_program();

    // Clicks the Test button where it stands in the gadget area.
    bool click_test();
    // Waits until the status bar shows the verdict and the Test button can be
    // pressed again.
    std::optional<WindowSnapshot>
    wait_for_verdict(const std::string& verdict,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Opens the port chooser with a click and picks the item with another.
    bool choose_port(long index);
    // Makes the device the chooser's selection, choosing it only when another
    // is selected: a test program elsewhere may have added a link to /dev
    // since this test began.
    bool select_port(const std::string& path);

    // The window manager's close request; the program must end with exit
    // status 0 within the timeout. Ends the run.
    void close_and_expect_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Ends the current run (killing it if it still runs) and checks its output.
    void end_run();

    ProgramRun& run() { return *run_; }
    unsigned long main_window_id() const { return main_window_id_; }

  private:
    std::unique_ptr<ProgramRun> run_;
    unsigned long main_window_id_ = 0;
};

// Where a person finds what the tests keep for looking at: $LANTORIC_ARTIFACTS,
// else the build folder.
std::string artifacts_folder();
