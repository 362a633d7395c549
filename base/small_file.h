// Reading a small file of the system (a /proc or /sys entry, os-release)
// whole in one bounded read: nothing blocks, and a huge or endless file
// costs no more than the limit.
#pragma once

#include <cstddef>
#include <fcntl.h>
#include <string>

// At most limit bytes of the file name in folder (AT_FDCWD: the current
// folder, or name is absolute), from one read; empty when it cannot be read.
// With follow_last_link false, a link at name is not followed (other users'
// /proc entries). Any thread; no lock.
std::string read_small_file(int folder, const std::string& name, std::size_t limit,
                            bool follow_last_link = true);

inline std::string read_small_file(const std::string& path, std::size_t limit) {
    return read_small_file(AT_FDCWD, path, limit);
}
