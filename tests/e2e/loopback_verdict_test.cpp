// A loopback test as a user sees it on the screen: the verdict and both texts,
// the button disabled while it runs, a picture of the result. Every other way
// a test can end is tested in-process (tests/app/loopback_worker_test.cpp).
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/simulated_adapter.h"

#include <filesystem>
#include <memory>

using namespace std::chrono_literals;

namespace {

class LoopbackVerdict : public LantoricSession {
  protected:
    // Starts an adapter with the simulator's options and the program, and
    // chooses the adapter; false after a test failure.
    bool prepare(std::vector<std::string> options) {
        adapter_ = std::make_unique<SimulatedAdapter>(unique_device_link(), std::move(options));
        return adapter_->ready() && start_program() && select_port(adapter_->link());
    }

    // The test's port is closed once its verdict is shown.
    void expect_port_closed() {
        EXPECT_FALSE(run().holds_open(adapter_->slave()))
            << "the program still holds " << adapter_->slave();
    }

    // Made after the fixture's set-up and gone after its tear-down, which ends
    // the program first.
    std::unique_ptr<SimulatedAdapter> adapter_;
};

TEST_F(LoopbackVerdict, FullEchoIsSuccessWithBothFieldsShowingTheText) {
    ASSERT_TRUE(prepare({}) && click_test());
    const auto verdict = wait_for_verdict("success");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(transmit_text(*verdict), TEST_TEXT);
    EXPECT_EQ(receive_text(*verdict), TEST_TEXT);
    EXPECT_EQ(status_label(*verdict)->real("xalign"), 0.5);
    expect_port_closed();

    // Kept for a person to look at; a few walks later the screen shows it all.
    ASSERT_TRUE(run().fresh_snapshot());
    ASSERT_TRUE(run().fresh_snapshot());
    const std::string folder = artifacts_folder();
    std::filesystem::create_directories(folder);
    const std::string picture = folder + "/lantoric-success.png";
    ASSERT_TRUE(take_screenshot(picture));
    EXPECT_GT(std::filesystem::file_size(picture), 0u);
}

TEST_F(LoopbackVerdict, SilenceIsTimeoutAfterASecondOfEmptyPollsWithTheButtonDisabledMeanwhile) {
    ASSERT_TRUE(prepare({"--silent"}));
    const auto clicked = std::chrono::steady_clock::now();
    ASSERT_TRUE(click_test());
    const auto running = run().wait_for("the test running", [](const WindowSnapshot& s) {
        return test_button_enabled(s) == false && transmit_text(s) == TEST_TEXT;
    });
    ASSERT_TRUE(running);
    EXPECT_EQ(status_text(*running), "");
    EXPECT_EQ(receive_text(*running), "");

    const auto verdict = wait_for_verdict("timeout");
    ASSERT_TRUE(verdict);
    // A hundred empty polls with 10 ms of sleep after each come first.
    EXPECT_GE(std::chrono::steady_clock::now() - clicked, 1s);
    EXPECT_EQ(transmit_text(*verdict), TEST_TEXT);
    EXPECT_EQ(receive_text(*verdict), "");
    expect_port_closed();
}

} // namespace
