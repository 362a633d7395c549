// The main window of the tester: its object numbers and how it is built.
#pragma once

#include "base/registry.h"

class TextList;

inline constexpr object_number WINDOW_MAIN = 0;
inline constexpr object_number FONT_MAIN = 0;
inline constexpr object_number STATUSBAR_MAIN = 0;

inline constexpr object_number GADGET_PORT_LABEL = 0;
inline constexpr object_number GADGET_PORT_COMBO = 1;
inline constexpr object_number GADGET_TEST_BUTTON = 2;
inline constexpr object_number GADGET_TRANSMIT_LABEL = 3;
inline constexpr object_number GADGET_TRANSMIT_TEXT = 4;
inline constexpr object_number GADGET_RECEIVE_LABEL = 5;
inline constexpr object_number GADGET_RECEIVE_TEXT = 6;
// Never created: the worker names it in the event that reports its end.
inline constexpr object_number GADGET_TEST_DONE = 7;

// Red 204 in the 0xBBGGRR encoding: the background of the gadget area and labels.
inline constexpr int MAIN_BACK_COLOR = 204;

// Opens window 0 ("Lantoric V" and the version, 300 x 150, centred, not resizable), loads
// font 0 as the gadgets' default, creates the seven gadgets, fills the port
// chooser from the list (selecting the first port, if any) and attaches the
// one-field status bar showing "not tested". Main thread, holding gui_lock,
// after every layer has started. Nothing is reported when a part cannot be made.
void build_main_window(const TextList& port_list);
