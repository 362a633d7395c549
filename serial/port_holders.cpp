#include "serial/port_holders.h"

#include "base/small_file.h"

#include "base/owners.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// /dev/ptmx and each devpts instance's own ptmx are 5:2.
const dev_t PTMX = makedev(5, 2);

std::optional<unsigned> pty_index(dev_t rdev) {
    if (!is_pseudo_terminal_slave(rdev)) {
        return std::nullopt;
    }
    return (major(rdev) - PTY_SLAVE_MAJOR) * 256 + minor(rdev);
}

// At most size - 1 bytes of another process's small /proc file.
std::string read_small(int folder, const std::string& name, std::size_t size) {
    return read_small_file(folder, name, size - 1, false);
}

// Whether the master descriptor fd (a ptmx) in the process folder drives the
// terminal of index: its fdinfo names it as "tty-index:".
bool drives_terminal(int process_folder, const char* fd, unsigned index) {
    const std::string info = read_small(process_folder, ("fdinfo/" + std::string(fd)).c_str(), 512);
    const auto at = info.find("tty-index:");
    if (at == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const unsigned long named = std::strtoul(info.c_str() + at + 10, &end, 10);
    return end != info.c_str() + at + 10 && named == index;
}

std::string command_in(int process_folder) {
    std::string command = read_small(process_folder, "comm", 64);
    if (!command.empty() && command.back() == '\n') {
        command.pop_back();
    }
    return command;
}

} // namespace

std::string process_name(pid_t pid) {
    OwnedDescriptor process(
        open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return process ? command_in(process.get()) : std::string();
}

PortHolders port_holders(dev_t rdev) {
    PortHolders holders;
    OwnedDirectory processes(opendir("/proc"));
    if (!processes) {
        holders.all_visible = false;
        return holders;
    }
    const std::optional<unsigned> index = pty_index(rdev);
    const pid_t self = getpid();
    while (dirent* entry = readdir(processes.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) {
            continue;
        }
        OwnedDescriptor process(
            openat(dirfd(processes.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const int fd_folder =
            process ? openat(process.get(), "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        OwnedDirectory descriptors(fd_folder >= 0 ? fdopendir(fd_folder) : nullptr);
        if (!descriptors) {
            if (fd_folder >= 0) {
                close(fd_folder);
            }
            // A process that ended meanwhile hides nothing.
            holders.all_visible = holders.all_visible && errno == ENOENT;
            continue;
        }
        bool has_port = false;
        bool device_end = false;
        while (dirent* descriptor = readdir(descriptors.get())) {
            struct stat target {};
            if (descriptor->d_name[0] == '.' ||
                fstatat(dirfd(descriptors.get()), descriptor->d_name, &target, 0) != 0 ||
                !S_ISCHR(target.st_mode)) {
                continue;
            }
            has_port = has_port || target.st_rdev == rdev;
            device_end = device_end || (index && target.st_rdev == PTMX &&
                                        drives_terminal(process.get(), descriptor->d_name, *index));
        }
        if (has_port && !device_end) {
            holders.processes.push_back({static_cast<pid_t>(pid), command_in(process.get())});
        }
    }
    return holders;
}

PortHolders port_holders(const std::string& path) {
    struct stat device {};
    if (stat(path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return {};
    }
    return port_holders(device.st_rdev);
}
