// Every way a loopback test can end, against a simulated adapter that behaves
// accordingly, as the window shows it.
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/simulated_adapter.h"

#include <filesystem>
#include <memory>

using namespace std::chrono_literals;

namespace {

class LoopbackVerdict : public LantoricSession {
  protected:
    // Starts an adapter with the simulator's options and the program; false
    // after a test failure.
    bool prepare(std::vector<std::string> options) {
        adapter_ = std::make_unique<SimulatedAdapter>(unique_device_link(), std::move(options));
        return adapter_->ready() && start_program() && select_port(adapter_->link());
    }

    // The same, then presses Test.
    bool start_test(std::vector<std::string> options) {
        return prepare(std::move(options)) && click_test();
    }

    // The same, then waits for the verdict.
    std::optional<WindowSnapshot> test_until(std::vector<std::string> options,
                                             const std::string& verdict) {
        if (!start_test(std::move(options))) {
            return std::nullopt;
        }
        return wait_for_verdict(verdict);
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
    const auto verdict = test_until({}, "success");
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

TEST_F(LoopbackVerdict, OneChangedByteIsTimeoutWithTheFifteenReceivedBytesShown) {
    std::string received = TEST_TEXT;
    received[5] ^= 0x01;
    const auto verdict = test_until({"--change=5"}, "timeout");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(transmit_text(*verdict), TEST_TEXT);
    EXPECT_EQ(receive_text(*verdict), received);
    expect_port_closed();
}

TEST_F(LoopbackVerdict, AnExtraByteBeforeTheEchoIsTimeout) {
    const auto verdict = test_until({"--before=0x2A"}, "timeout");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(receive_text(*verdict), "*" + TEST_TEXT);
    expect_port_closed();
}

TEST_F(LoopbackVerdict, AZeroByteBeforeTheEchoAddsNothingAndIsSuccess) {
    const auto verdict = test_until({"--before=0"}, "success");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(receive_text(*verdict), TEST_TEXT);
    expect_port_closed();
}

TEST_F(LoopbackVerdict, BytesAfterTheEchoAreNotReadAndTheVerdictIsSuccess) {
    const auto verdict = test_until({"--trail=20"}, "success");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(receive_text(*verdict), TEST_TEXT);
    expect_port_closed();
}

TEST_F(LoopbackVerdict, AShortWriteIsNotAbleToTransmitWithBothFieldsEmpty) {
    const auto verdict = test_until({"--short-write"}, "not able to transmit");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(transmit_text(*verdict), "");
    EXPECT_EQ(receive_text(*verdict), "");
    expect_port_closed();
}

TEST_F(LoopbackVerdict, ADeviceVanishingMidEchoEndsInTimeoutAndCannotBeOpenedAgain) {
    const auto verdict = test_until({"--vanish-after-bytes=8"}, "timeout");
    ASSERT_TRUE(verdict);
    const std::string received = receive_text(*verdict).value_or("?");
    EXPECT_EQ(TEST_TEXT.substr(0, received.size()), received)
        << "more or other than the echo sent before the device went";
    EXPECT_LE(received.size(), 8u);
    ASSERT_TRUE(adapter_->wait_for_exit(5s)) << "the simulator did not vanish";
    expect_port_closed();

    ASSERT_TRUE(click_test());
    const auto again = wait_for_verdict("not able to open selected port");
    ASSERT_TRUE(again);
    EXPECT_EQ(transmit_text(*again), "");
    EXPECT_EQ(receive_text(*again), "");
}

TEST_F(LoopbackVerdict, ADeviceThatNeverFallsSilentEndsInTimeoutWithABoundedField) {
    ASSERT_TRUE(start_test({"--flood"}));
    ASSERT_TRUE(run().wait_for("the test text written", [](const WindowSnapshot& s) {
        return transmit_text(s) == TEST_TEXT;
    }));
    // Ten seconds after the write at most, with room for a slow machine.
    size_t longest = 0;
    const auto verdict = run().wait_for(
        "the verdict \"timeout\" with the Test button enabled",
        [&longest](const WindowSnapshot& s) {
            longest = std::max(longest, receive_text(s).value_or("").size());
            return status_text(s) == "timeout" && test_button_enabled(s) == true;
        },
        15s);
    ASSERT_TRUE(verdict);
    const std::string received = receive_text(*verdict).value_or("");
    EXPECT_LE(longest, 256u);
    EXPECT_FALSE(received.empty());
    EXPECT_EQ(received.find_first_not_of('U'), std::string::npos) << received;
    expect_port_closed();
}

} // namespace
