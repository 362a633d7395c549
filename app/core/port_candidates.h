// The device nodes that may be serial ports: the window's port discovery and
// lantoric-check's listing both find theirs here.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

// The window's folder and pattern; lantoric-check adds "ttyACM*".
inline constexpr const char* PORT_FOLDER = "/dev";
inline constexpr const char* USB_PORT_PATTERN = "ttyUSB*";
inline constexpr const char* ACM_PORT_PATTERN = "ttyACM*";

// The full paths ("/dev/" and the entry's name, its bytes as they are) of
// every entry of folder that matches one of the patterns: pattern by pattern,
// each in the order the directory lists them. Every listing is finished
// before this returns, so no device is touched while one is open. Empty when
// the folder cannot be listed. Any thread; uses numbered directory listings.
std::vector<std::string> port_candidates(const std::string& folder,
                                         std::initializer_list<const char*> patterns);
