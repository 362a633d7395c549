#include "app/main_window.h"

#include "app/text_list.h"
#include "gui/button_gadget.h"
#include "gui/combo_box_gadget.h"
#include "gui/font.h"
#include "gui/gadget.h"
#include "gui/statusbar.h"
#include "gui/text_gadget.h"
#include "gui/window.h"

void build_main_window(const TextList& port_list) {
    window_open(WINDOW_MAIN, 0, 0, 300, 150, "Lantoric V" LANTORIC_VERSION,
                WINDOW_SYSTEM_MENU | WINDOW_SCREEN_CENTERED);
    window_set_color(WINDOW_MAIN, MAIN_BACK_COLOR);

    // Every gadget created from here on carries font 0.
    font_load_plain(FONT_MAIN, "Arial", 8);
    gadget_set_font(-1, font_handle(FONT_MAIN));

    text_gadget_create_plain(GADGET_PORT_LABEL, 10, 15, 70, 20, "COM Port :");
    gadget_set_color(GADGET_PORT_LABEL, COLOR_BACKGROUND, MAIN_BACK_COLOR);

    combo_box_gadget_create_plain(GADGET_PORT_COMBO, 80, 10, 150, 25);
    for (const std::string& path : port_list) {
        gadget_add_item(GADGET_PORT_COMBO, -1, path.c_str());
    }
    gadget_set_state(GADGET_PORT_COMBO, 0);

    button_gadget_create_plain(GADGET_TEST_BUTTON, 250, 10, 40, 25, "Test");

    text_gadget_create_plain(GADGET_TRANSMIT_LABEL, 10, 50, 50, 20, "Transmit :");
    gadget_set_color(GADGET_TRANSMIT_LABEL, COLOR_BACKGROUND, MAIN_BACK_COLOR);
    text_gadget_create(GADGET_TRANSMIT_TEXT, 80, 50, 210, 20, "", TEXT_FRAMED);

    text_gadget_create_plain(GADGET_RECEIVE_LABEL, 10, 80, 50, 20, "Receive :");
    gadget_set_color(GADGET_RECEIVE_LABEL, COLOR_BACKGROUND, MAIN_BACK_COLOR);
    text_gadget_create(GADGET_RECEIVE_TEXT, 80, 80, 210, 20, "", TEXT_FRAMED);

    statusbar_create(STATUSBAR_MAIN, window_handle(WINDOW_MAIN));
    statusbar_add_field(300);
    statusbar_set_text(STATUSBAR_MAIN, 0, "not tested", FIELD_CENTRED);
}
