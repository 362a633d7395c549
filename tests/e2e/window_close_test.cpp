// Closing the main window through the window manager ends the program with
// exit status 0: when idle, and at any moment of a running test.
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/simulated_adapter.h"

#include <thread>

using namespace std::chrono_literals;

namespace {

class WindowClose : public LantoricSession {
  protected:
    // Runs the program against the adapter `rounds` times, closing the window
    // each time `first_delay + round * step` after pressing Test.
    void close_during_tests(const SimulatedAdapter& adapter, int rounds,
                            std::chrono::milliseconds first_delay, std::chrono::milliseconds step) {
        for (int round = 0; round < rounds; ++round) {
            const auto delay = first_delay + round * step;
            SCOPED_TRACE("closed " + std::to_string(delay.count()) + " ms after Test");
            const auto started = start_program();
            ASSERT_TRUE(started);
            ASSERT_TRUE(select_port(adapter.link()));
            ASSERT_TRUE(click_test());
            std::this_thread::sleep_for(delay);
            close_and_expect_exit();
            if (HasFatalFailure()) {
                return;
            }
        }
    }
};

TEST_F(WindowClose, ClosingTheIdleWindowEndsTheProgramWithStatusZero) {
    ASSERT_TRUE(start_program());
    close_and_expect_exit();
}

TEST_F(WindowClose, ClosingAfterATestEndsTheProgramWithStatusZero) {
    SimulatedAdapter adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready());
    ASSERT_TRUE(start_program());
    ASSERT_TRUE(select_port(adapter.link()));
    ASSERT_TRUE(click_test());
    ASSERT_TRUE(wait_for_verdict("success"));
    close_and_expect_exit();
}

// A silent adapter keeps the test in its poll loop for about a second; the
// closes fall from before the worker starts to about the verdict.
TEST_F(WindowClose, ClosingDuringASilentTestEndsTheProgramWithStatusZero) {
    SimulatedAdapter adapter(unique_device_link(), {"--silent"});
    ASSERT_TRUE(adapter.ready());
    close_during_tests(adapter, 10, 0ms, 110ms);
}

// An adapter that never stops sending keeps the test busy reading and updating
// the receive field: the closes meet the worker inside a field update.
TEST_F(WindowClose, ClosingDuringAStreamingTestEndsTheProgramWithStatusZero) {
    SimulatedAdapter adapter(unique_device_link(), {"--flood"});
    ASSERT_TRUE(adapter.ready());
    close_during_tests(adapter, 10, 5ms, 75ms);
}

} // namespace
