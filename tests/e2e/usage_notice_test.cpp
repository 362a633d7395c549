// The usage notice: what it says, how it is answered, and that the main window
// waits for the answer.
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/wait_until.h"


using namespace std::chrono_literals;

namespace {

class UsageNotice : public LantoricSession {};

const std::string USAGE_TEXT = "If the driver is already installed...\n"
                               "\n"
                               "Connect the USB adapter to your pc.\n"
                               "Plugin the 3 pole cable adapter.\n"
                               "Connect the red clamp to +12V.\n"
                               "If you have also a black clamp, connect it to GND.\n"
                               "If not, connect GND to the middle pin of the 3 pole connector.\n"
                               "\n"
                               "Now you are prepared for the test!";

// The labels a person reads as the notice's text: those outside its buttons.
void collect_text_labels(const WidgetState& widget, std::vector<const WidgetState*>& labels) {
    if (widget.type == "GtkButton") {
        return;
    }
    if (widget.type == "GtkLabel") {
        labels.push_back(&widget);
    }
    for (const auto& child : widget.children) {
        collect_text_labels(child, labels);
    }
}

TEST_F(UsageNotice, ShowsTheWiringTextWithOneFocusedOkButton) {
    const auto snapshot = launch();
    ASSERT_TRUE(snapshot);
    const WidgetState* notice = notice_window(*snapshot);
    ASSERT_NE(notice, nullptr);

    std::vector<const WidgetState*> labels;
    collect_text_labels(*notice, labels);
    ASSERT_EQ(labels.size(), 1u) << describe(*notice);
    EXPECT_EQ(labels[0]->text("text"), USAGE_TEXT);

    const auto buttons = notice->find_all("GtkButton");
    ASSERT_EQ(buttons.size(), 1u) << describe(*notice);
    EXPECT_EQ(buttons[0]->text("label"), "gtk-ok");
    EXPECT_EQ(buttons[0]->number("use_stock"), 1);
    EXPECT_EQ(buttons[0]->number("focus"), 1);
    const WidgetState* caption = buttons[0]->find("GtkLabel");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text("text"), "OK");

    // The window manager may move the notice and nothing else.
    const auto facts = read_window_manager_facts(notice->number("xid"));
    ASSERT_TRUE(facts && facts->motif);
    EXPECT_EQ(facts->motif->flags, 0x3);
    EXPECT_EQ(facts->motif->functions, 0x0C);
    EXPECT_EQ(facts->motif->decorations, 0x3A);
}

TEST_F(UsageNotice, MainWindowAppearsOnlyOnceTheNoticeIsAnswered) {
    ASSERT_TRUE(launch());
    // For a second of fresh snapshots while the notice waits, no main window
    // appears, shown or hidden, and the notice stays.
    int looked_at = 0;
    EXPECT_FALSE(wait_until(
        [&] {
            const auto snapshot = run().fresh_snapshot();
            ++looked_at;
            return !snapshot || snapshot->has_any_window(MAIN_TITLE) ||
                   notice_window(*snapshot) == nullptr;
        },
        1s))
        << describe(run().snapshot());
    EXPECT_GT(looked_at, 3);

    const auto answered = answer_notice();
    ASSERT_TRUE(answered);
    EXPECT_EQ(notice_window(*answered), nullptr) << describe(*answered);
    EXPECT_FALSE(answered->has_any_window(NOTICE_TITLE)) << "the answered notice still exists";
}

} // namespace
