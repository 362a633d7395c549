#include "tests/support/descriptor_count.h"

#include "base/owners.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <memory>
#include <unistd.h>

namespace {

// Calls visit(descriptor, target) for each open descriptor other than the
// listing's own; returns how many there were.
template <typename Visit> int for_each_descriptor(Visit visit) {
    OwnedDirectory listing(opendir("/proc/self/fd"));
    if (!listing) {
        return -1;
    }
    int own = dirfd(listing.get());
    int count = 0;
    while (dirent* entry = readdir(listing.get())) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) {
            continue;
        }
        ++count;
        char target[PATH_MAX] = {};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        visit(std::atoi(entry->d_name),
              std::string(target, length > 0 ? static_cast<std::size_t>(length) : 0));
    }
    return count;
}

} // namespace

int open_descriptor_count() {
    return for_each_descriptor([](int, const std::string&) {});
}

std::vector<int> descriptors_on(const std::string& path) {
    char resolved[PATH_MAX] = {};
    std::string wanted = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
    std::vector<int> matches;
    for_each_descriptor([&](int descriptor, const std::string& target) {
        if (target == wanted) {
            matches.push_back(descriptor);
        }
    });
    std::sort(matches.begin(), matches.end());
    return matches;
}

int descriptors_open_on(const std::string& path) {
    return static_cast<int>(descriptors_on(path).size());
}
