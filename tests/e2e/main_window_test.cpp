// The main window as it first appears: what the window manager was asked for,
// where the gadgets stand, their colours and texts, and the status bar.
#include "tests/e2e/desktop.h"
#include "tests/e2e/lantoric_session.h"

#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;

namespace {

class MainWindow : public LantoricSession {};

// Red 204 as the toolkit holds it: 16-bit channels.
const std::string RED_204 = "cc00,0000,0000";
constexpr unsigned long RED_204_ON_SCREEN = 0xCC0000;
const std::string GADGET_FONT = "Arial 8";
constexpr long SHADOW_IN = 1;

struct Placement {
    MainGadget number;
    long x;
    long y;
    long width;
    long height;
};

const Placement LAYOUT[] = {
    {PORT_LABEL, 10, 15, 70, 20},      {PORT_CHOOSER, 80, 10, 150, 25},
    {TEST_BUTTON, 250, 10, 40, 25},    {TRANSMIT_LABEL, 10, 50, 50, 20},
    {TRANSMIT_FIELD, 80, 50, 210, 20}, {RECEIVE_LABEL, 10, 80, 50, 20},
    {RECEIVE_FIELD, 80, 80, 210, 20},
};

// The screen shows what the toolkit drew a moment after it was asked to.
std::optional<unsigned long> wait_for_pixel(unsigned long window, int x, int y,
                                            unsigned long expected) {
    std::optional<unsigned long> pixel;
    const auto until = std::chrono::steady_clock::now() + 5s;
    do {
        pixel = read_pixel(window, x, y);
        if (!pixel || *pixel == expected) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < until);
    return pixel;
}

TEST_F(MainWindow, IsFixedInSizeCentredAndOnlyMovableAndClosable) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* window = main_window(*snapshot);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->number("resizable"), 0);

    const auto facts = read_window_manager_facts(main_window_id());
    ASSERT_TRUE(facts);
    // Flags, then functions MOVE | CLOSE, then decorations BORDER | TITLE | MENU.
    EXPECT_EQ(facts->motif_hints, (std::vector<long>{0x3, 0x24, 0x1A}));
    EXPECT_GE(facts->width, 300);
    EXPECT_GE(facts->height, 150);
    EXPECT_EQ(facts->min_width, facts->width);
    EXPECT_EQ(facts->max_width, facts->width);
    EXPECT_EQ(facts->min_height, facts->height);
    EXPECT_EQ(facts->max_height, facts->height);

    // Centred: the toolkit centres the client size and the window manager adds
    // its frame, so the frame's centre may lie off by half the frame's size.
    const int frame_x = facts->x - facts->frame_left;
    const int frame_y = facts->y - facts->frame_top;
    const int frame_width = facts->width + facts->frame_left + facts->frame_right;
    const int frame_height = facts->height + facts->frame_top + facts->frame_bottom;
    EXPECT_LE(std::abs(2 * frame_x + frame_width - facts->screen_width),
              facts->frame_left + facts->frame_right + 2)
        << "frame at x " << frame_x << ", " << frame_width << " wide";
    EXPECT_LE(std::abs(2 * frame_y + frame_height - facts->screen_height),
              facts->frame_top + facts->frame_bottom + 2)
        << "frame at y " << frame_y << ", " << frame_height << " high";
}

TEST_F(MainWindow, GadgetsStandWhereTheLayoutPutsThemWithTheirTextsAndColours) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* area = gadget_area(*snapshot);
    ASSERT_NE(area, nullptr) << describe(*snapshot);
    EXPECT_EQ(area->number("x"), 0);
    EXPECT_EQ(area->number("y"), 0);
    EXPECT_EQ(area->text("modifier_bg"), RED_204);
    ASSERT_EQ(area->children.size(), 7u) << describe(*area);

    for (const auto& place : LAYOUT) {
        const WidgetState* outer = gadget(*snapshot, place.number);
        ASSERT_NE(outer, nullptr);
        SCOPED_TRACE("gadget " + std::to_string(place.number) + ": " + describe(*outer));
        EXPECT_EQ(outer->number("x") - area->number("x"), place.x);
        EXPECT_EQ(outer->number("y") - area->number("y"), place.y);
        EXPECT_EQ(outer->number("width"), place.width);
        EXPECT_EQ(outer->number("height"), place.height);
        if (place.number != PORT_CHOOSER) {
            const WidgetState* label = gadget_label(*snapshot, place.number);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text("font"), GADGET_FONT);
        }
    }

    const std::pair<MainGadget, const char*> captions[] = {
        {PORT_LABEL, "COM Port :"}, {TRANSMIT_LABEL, "Transmit :"}, {RECEIVE_LABEL, "Receive :"}};
    for (const auto& [number, caption] : captions) {
        const WidgetState* label = gadget_label(*snapshot, number);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text("text"), caption);
        EXPECT_EQ(label->real("xalign"), 0.0) << caption;
        EXPECT_EQ(label->text("modifier_bg"), RED_204) << caption;
        EXPECT_EQ(gadget(*snapshot, number)->text("modifier_bg"), RED_204) << caption;
    }

    for (MainGadget field : {TRANSMIT_FIELD, RECEIVE_FIELD}) {
        const WidgetState* frame = gadget(*snapshot, field)->find("GtkFrame");
        ASSERT_NE(frame, nullptr) << "field " << field << " has no frame";
        EXPECT_EQ(frame->number("shadow"), SHADOW_IN);
        const WidgetState* label = gadget_label(*snapshot, field);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text("text"), "");
        EXPECT_FALSE(label->has("modifier_bg")) << "field " << field << " has a colour";
    }

    const WidgetState* button = test_button(*snapshot);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(gadget_label(*snapshot, TEST_BUTTON)->text("text"), "Test");
    EXPECT_EQ(button->number("sensitive"), 1);
    EXPECT_FALSE(button->has("modifier_bg"));
    const WidgetState* chooser = port_chooser(*snapshot);
    ASSERT_NE(chooser, nullptr);
    EXPECT_FALSE(chooser->has("modifier_bg"));

    // The red reaches the screen: two corners of the area that no gadget covers.
    const int left = static_cast<int>(area->number("x")) + 4;
    const int top = static_cast<int>(area->number("y")) + 4;
    const int bottom = static_cast<int>(area->number("y") + area->number("height")) - 4;
    for (int y : {top, bottom}) {
        const auto pixel = wait_for_pixel(main_window_id(), left, y, RED_204_ON_SCREEN);
        ASSERT_TRUE(pixel);
        EXPECT_EQ(*pixel, RED_204_ON_SCREEN) << "at " << left << ", " << y;
    }
}

TEST_F(MainWindow, StatusBarShowsNotTestedCentredInASunkenFieldBelowTheGadgets) {
    const auto snapshot = start_program();
    ASSERT_TRUE(snapshot);
    const WidgetState* field = status_field(*snapshot);
    const WidgetState* label = status_label(*snapshot);
    const WidgetState* area = gadget_area(*snapshot);
    ASSERT_TRUE(field != nullptr && label != nullptr && area != nullptr) << describe(*snapshot);
    EXPECT_EQ(label->text("text"), "not tested");
    EXPECT_EQ(label->real("xalign"), 0.5);
    EXPECT_EQ(field->number("shadow"), SHADOW_IN);
    EXPECT_EQ(field->number("request_width"), 300);
    EXPECT_GE(field->number("height"), 22);
    EXPECT_GE(field->number("y"), area->number("y") + area->number("height"));
    // The status bar is no gadget: it keeps the toolkit's font.
    EXPECT_NE(label->text("font"), GADGET_FONT);
}

} // namespace
