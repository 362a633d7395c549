// The process's open descriptors, as the kernel lists them in /proc/self/fd:
// a test counts them to see that a refused or closed port left nothing open.
#pragma once

#include <string>
#include <vector>

// How many descriptors the process has open (not counting the one used to
// list them); -1 if they cannot be listed.
int open_descriptor_count();

// The descriptors that lead to path, links followed (for example "/dev/pts/3"),
// in ascending order.
std::vector<int> descriptors_on(const std::string& path);

// How many descriptors lead to path.
int descriptors_open_on(const std::string& path);
