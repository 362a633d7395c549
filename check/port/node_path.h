// A port's path and the node behind it, spelled one way: the node a link
// leads to, and the last part of a path (a tty's name, "ttyUSB0").
#pragma once

#include <optional>
#include <string>

// The node the path leads to, every link followed; none when it leads
// nowhere (a dangling link, a missing node).
std::optional<std::string> node_behind(const std::string& path);

// What follows the last '/' of the path (all of it when there is none).
std::string base_name(const std::string& path);
