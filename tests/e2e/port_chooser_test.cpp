// What the port chooser offers: the ttyUSB entries of /dev that open, as full
// paths, the first one selected.
#include "tests/e2e/device_links.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/simulated_adapter.h"

namespace {

class PortChooser : public LantoricSession {};

TEST_F(PortChooser, WithoutDevicesTheChooserIsEmptyAndATestCannotOpenAPort) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* chooser = port_chooser(*snapshot);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->combo_items(), std::vector<std::string>{});
    EXPECT_EQ(chooser->number("active"), -1);

    ASSERT_TRUE(click_test());
    const auto verdict = wait_for_verdict("not able to open selected port");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(transmit_text(*verdict), "");
    EXPECT_EQ(receive_text(*verdict), "");
    EXPECT_EQ(status_label(*verdict)->real("xalign"), 0.5);
}

TEST_F(PortChooser, OnlyTheEntryThatOpensIsListedAsAFullPathAndSelected) {
    DanglingDeviceLink dangling;
    ASSERT_FALSE(dangling.path().empty());
    SimulatedAdapter adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready());

    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* chooser = port_chooser(*snapshot);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->combo_items(), std::vector<std::string>{adapter.link()});
    EXPECT_EQ(chooser->number("active"), 0);

    // The listed path is the one a test opens.
    ASSERT_TRUE(click_test());
    const auto verdict = wait_for_verdict("success");
    ASSERT_TRUE(verdict);
    EXPECT_EQ(receive_text(*verdict), TEST_TEXT);
}

} // namespace
