// The main window as it first appears: what the window manager was asked for
// and what reaches the screen.
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"
#include "tests/support/wait_until.h"

#include <cstdlib>

using namespace std::chrono_literals;

namespace {

class MainWindow : public LantoricSession {};

// Red 204 as the toolkit holds it: 16-bit channels.
const std::string RED_204 = "cc00,0000,0000";
constexpr unsigned long RED_204_ON_SCREEN = 0xCC0000;
const std::string GADGET_FONT = "Arial 8";
constexpr long SHADOW_IN = 1;

TEST_F(MainWindow, IsFixedInSizeCentredAndOnlyMovableAndClosable) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* window = main_window(*snapshot);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->number("resizable"), 0);

    const auto facts = read_window_manager_facts(main_window_id());
    ASSERT_TRUE(facts && facts->motif && facts->sizes);
    // Functions MOVE | CLOSE, decorations BORDER | TITLE | MENU.
    EXPECT_EQ(facts->motif->functions, 0x24);
    EXPECT_EQ(facts->motif->decorations, 0x1A);
    const ClientGeometry& client = facts->client;
    EXPECT_GE(client.width, 300);
    EXPECT_GE(client.height, 150);
    EXPECT_EQ(facts->sizes->min_width, client.width);
    EXPECT_EQ(facts->sizes->max_width, client.width);
    EXPECT_EQ(facts->sizes->min_height, client.height);
    EXPECT_EQ(facts->sizes->max_height, client.height);

    // Centred: the toolkit centres the client size and the window manager adds
    // its frame, so the frame's centre may lie off by half the frame's size.
    const FrameExtents& frame = facts->frame;
    const long frame_x = client.x - frame.left;
    const long frame_y = client.y - frame.top;
    const long frame_width = client.width + frame.left + frame.right;
    const long frame_height = client.height + frame.top + frame.bottom;
    EXPECT_LE(std::abs(2 * frame_x + frame_width - client.screen_width),
              frame.left + frame.right + 2)
        << "frame at x " << frame_x << ", " << frame_width << " wide";
    EXPECT_LE(std::abs(2 * frame_y + frame_height - client.screen_height),
              frame.top + frame.bottom + 2)
        << "frame at y " << frame_y << ", " << frame_height << " high";
}

// What the layout table says is the code's business; what only the screen
// shows is tested here: the gadget area's red reaches the screen, the fields
// are sunken, the status bar is centred below the gadgets in its own font.
TEST_F(MainWindow, TheRedAreaTheSunkenFieldsAndTheStatusBarReachTheScreen) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* area = gadget_area(*snapshot);
    const WidgetState* field = status_field(*snapshot);
    const WidgetState* label = status_label(*snapshot);
    ASSERT_TRUE(area != nullptr && field != nullptr && label != nullptr) << describe(*snapshot);
    EXPECT_EQ(area->text("modifier_bg"), RED_204);
    for (MainGadget number : {TRANSMIT_FIELD, RECEIVE_FIELD}) {
        const WidgetState* frame = gadget(*snapshot, number)->find("GtkFrame");
        ASSERT_NE(frame, nullptr) << "field " << number << " has no frame";
        EXPECT_EQ(frame->number("shadow"), SHADOW_IN);
        EXPECT_EQ(gadget_label(*snapshot, number)->text("font"), GADGET_FONT);
    }
    EXPECT_EQ(label->text("text"), "not tested");
    EXPECT_EQ(label->real("xalign"), 0.5);
    EXPECT_EQ(field->number("shadow"), SHADOW_IN);
    EXPECT_GE(field->number("y"), area->number("y") + area->number("height"));
    EXPECT_NE(label->text("font"), GADGET_FONT) << "the status bar is no gadget";

    // Two corners of the area that no gadget covers.
    const int left = static_cast<int>(area->number("x")) + 4;
    const int top = static_cast<int>(area->number("y")) + 4;
    const int bottom = static_cast<int>(area->number("y") + area->number("height")) - 4;
    for (int y : {top, bottom}) {
        std::optional<unsigned long> pixel;
        // The screen shows what the toolkit drew a moment after it was asked to.
        EXPECT_TRUE(wait_until([&] {
            pixel = read_pixel(main_window_id(), left, y);
            return !pixel || *pixel == RED_204_ON_SCREEN;
        })) << "at " << left << ", " << y;
        ASSERT_TRUE(pixel);
    }
}

} // namespace
