// Reading a numbered serial port in tests, the way the tester polls it.
#pragma once

#include "base/registry.h"

#include <chrono>
#include <string>

// Polls the port with serial_input_available and reads with serial_read until
// count bytes came or the deadline passed; returns what came.
std::string read_port(object_number port, std::size_t count,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5));
