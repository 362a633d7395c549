// The icon every window of the program shows, taken by name from the icon
// theme, so that it is there once the program is installed and the windows look
// exactly as before when it is not.
#pragma once

// When the current icon theme has an icon called `name`, makes it, at the
// sizes window managers show (16, 32, 48), the default icon of every window
// opened afterwards, and returns true; otherwise changes nothing and
// returns false. Main thread, after toolkit_start, holding gui_lock.
bool window_set_default_icon(const char* name);
