// Waiting with a deadline for something another thread or process does.
#pragma once

#include <chrono>
#include <functional>

// Checks done() every interval until it is true or the deadline passes;
// returns done()'s last answer. The one deadline wait of the tests outside
// the toolkit's loop (tests/support/gui_waits.h runs the toolkit meanwhile).
bool wait_until(const std::function<bool()>& done,
                std::chrono::milliseconds deadline = std::chrono::seconds(5),
                std::chrono::milliseconds interval = std::chrono::milliseconds(1));
