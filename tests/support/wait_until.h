// Waiting with a deadline for something another thread or process does.
#pragma once

#include <chrono>
#include <functional>

// Checks done() every millisecond until it is true or the deadline passes;
// returns done()'s last answer.
bool wait_until(const std::function<bool()>& done,
                std::chrono::milliseconds deadline = std::chrono::seconds(5));
