#include "check/port/node_path.h"

#include <climits>
#include <cstdlib>

std::optional<std::string> node_behind(const std::string& path) {
    char node[PATH_MAX];
    if (realpath(path.c_str(), node) == nullptr) {
        return std::nullopt;
    }
    return std::string(node);
}

std::string base_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
