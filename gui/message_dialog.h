// The message dialog: a short notice with a title, a text and one to three
// stock buttons, which returns only when the user has answered or the dialog
// has gone away. It runs the toolkit's main loop itself while it waits, so the
// other windows stay served (it is neither modal nor transient for them); the
// events their handlers push stay queued until the caller waits for events.
#pragma once

// Flags of message_dialog; other bits are ignored. Without either bit the
// dialog has one OK button.
inline constexpr int MSG_YES_NO = 0x1;        // Yes, No; wins over MSG_YES_NO_CANCEL
inline constexpr int MSG_YES_NO_CANCEL = 0x2; // Yes, No, Cancel

// Results: the code of the button pressed.
inline constexpr int MSG_RESULT_OK = 1;
inline constexpr int MSG_RESULT_CANCEL = 2;
inline constexpr int MSG_RESULT_YES = 6;
inline constexpr int MSG_RESULT_NO = 7;

// Shows the dialog, centred on the screen, with the title and the text (program
// texts; the text may hold line breaks and is shown as one label with 10 pixels
// of padding on each side). The window manager is asked to offer moving and
// minimizing only, not closing, resizing or maximizing. Returns the pressed button's code,
// or 0 when the dialog was destroyed without a button press; the dialog is
// gone when the call returns.
//
// Main thread only, holding gui_lock at depth one (the toolkit's iterations
// release it once while they block, which is when a worker's locked operation
// goes through); takes no lock itself.
int message_dialog(const char* title, const char* text, int flags);

// message_dialog with flags 0: one OK button.
int message_dialog(const char* title, const char* text);
