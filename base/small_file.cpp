#include "base/small_file.h"

#include "base/owners.h"

#include <unistd.h>

std::string read_small_file(int folder, const std::string& name, std::size_t limit,
                            bool follow_last_link) {
    const int flags =
        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow_last_link ? 0 : O_NOFOLLOW);
    OwnedDescriptor file(openat(folder, name.c_str(), flags));
    if (!file) {
        return {};
    }
    std::string text(limit, '\0');
    const ssize_t got = read(file.get(), text.data(), limit);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}
