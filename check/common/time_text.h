// Spans of time as a person reads them in lantoric-check's output, written
// one way everywhere.
#pragma once

#include <chrono>
#include <string>

// "25.1": milliseconds with one decimal, without the unit.
std::string milliseconds_number(std::chrono::steady_clock::duration span);

// "25.1 ms".
std::string milliseconds_text(std::chrono::steady_clock::duration span);

// "1:02:03": hours, minutes and seconds of a long run.
std::string elapsed_text(std::chrono::steady_clock::duration span);
