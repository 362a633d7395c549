// Tests one after another: a new port chosen in between is used by the next
// test only, and the next test starts from a cleared window.
#include "tests/e2e/lantoric_session.h"
#include "tests/support/simulated_adapter.h"

#include <algorithm>

namespace {

class TestControl : public LantoricSession {};

long index_of(const std::vector<std::string>& items, const std::string& item) {
    const auto found = std::find(items.begin(), items.end(), item);
    return found == items.end() ? -1 : static_cast<long>(found - items.begin());
}

TEST_F(TestControl, AnotherPortIsUsedFromTheNextTestOnWhichStartsFromAClearedWindow) {
    SimulatedAdapter echoing(unique_device_link());
    SimulatedAdapter silent(unique_device_link(), {"--silent"});
    ASSERT_TRUE(echoing.ready() && silent.ready());

    const auto started = start_program();
    ASSERT_TRUE(started);
    ASSERT_NE(port_chooser(*started), nullptr);
    const auto items = port_chooser(*started)->combo_items();
    const long echoing_item = index_of(items, echoing.link());
    const long silent_item = index_of(items, silent.link());
    ASSERT_TRUE(echoing_item >= 0 && silent_item >= 0) << describe(*port_chooser(*started));

    if (port_chooser(*started)->number("active") != echoing_item) {
        ASSERT_TRUE(choose_port(echoing_item));
    }
    ASSERT_TRUE(click_test());
    const auto first = wait_for_verdict("success");
    ASSERT_TRUE(first);

    // Choosing a port changes nothing on the screen and opens nothing.
    ASSERT_TRUE(choose_port(silent_item));
    for (int walk = 0; walk < 10; ++walk) {
        const auto unchanged = run().fresh_snapshot();
        ASSERT_TRUE(unchanged);
        EXPECT_EQ(status_text(*unchanged), "success");
        EXPECT_EQ(transmit_text(*unchanged), TEST_TEXT);
        EXPECT_EQ(receive_text(*unchanged), TEST_TEXT);
        EXPECT_EQ(test_button_enabled(*unchanged), true);
    }
    EXPECT_FALSE(run().holds_open(silent.slave()));

    // The silent adapter's test takes a second: long enough to see it start
    // from a cleared window.
    ASSERT_TRUE(click_test());
    const auto cleared =
        run().wait_for("the second test waiting for its echo", [](const WindowSnapshot& s) {
            return test_button_enabled(s) == false && status_text(s) == "" &&
                   transmit_text(s) == TEST_TEXT;
        });
    ASSERT_TRUE(cleared);
    EXPECT_EQ(receive_text(*cleared), "");
    EXPECT_TRUE(run().holds_open(silent.slave())) << "the test does not use the chosen port";
    EXPECT_FALSE(run().holds_open(echoing.slave()));

    const auto second = wait_for_verdict("timeout");
    ASSERT_TRUE(second);
    EXPECT_EQ(transmit_text(*second), TEST_TEXT);
    EXPECT_EQ(receive_text(*second), "");
    EXPECT_FALSE(run().holds_open(silent.slave())) << "the test left its port open";
}

} // namespace
