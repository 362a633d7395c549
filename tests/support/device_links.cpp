#include "tests/support/device_links.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string TEST_LINK_PREFIX = "/dev/ttyUSBlt";
std::atomic<int> link_counter{0};

} // namespace

std::string unique_device_link(const std::string& folder) {
    return folder + "/ttyUSBlt" + std::to_string(getpid()) + "x" +
           std::to_string(link_counter.fetch_add(1));
}

DeviceLink::DeviceLink(const std::string& path, const std::string& target) {
    if (symlink(target.c_str(), path.c_str()) != 0) {
        ADD_FAILURE() << "cannot make the link " << testing::PrintToString(path) << ": "
                      << std::strerror(errno);
        return;
    }
    path_ = path;
}

DeviceLink::DeviceLink(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) != 0) {
        ADD_FAILURE() << "cannot make the FIFO " << path << ": " << std::strerror(errno);
        return;
    }
    path_ = path;
}

DeviceLink::~DeviceLink() {
    if (!path_.empty()) {
        unlink(path_.c_str());
    }
}

std::vector<std::string> usb_device_entries() {
    std::vector<std::string> entries;
    DIR* directory = opendir("/dev");
    if (directory == nullptr) {
        ADD_FAILURE() << "cannot list /dev";
        return entries;
    }
    while (const dirent* entry = readdir(directory)) {
        if (fnmatch("ttyUSB*", entry->d_name, 0) == 0) {
            entries.push_back(std::string("/dev/") + entry->d_name);
        }
    }
    closedir(directory);
    return entries;
}

bool is_test_link(const std::string& path) {
    return path.rfind(TEST_LINK_PREFIX, 0) == 0;
}

void remove_stale_test_links() {
    for (const auto& path : usb_device_entries()) {
        struct stat status {};
        if (!is_test_link(path) || lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            continue;
        }
        // "ttyUSBlt<pid>x<n>": the process that named it.
        const long pid = std::strtol(path.c_str() + TEST_LINK_PREFIX.size(), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            unlink(path.c_str());
        }
    }
}

std::vector<std::string> with_own_devices(const std::vector<std::string>& command) {
    // The real /dev stays reachable under a scratch folder until the few nodes
    // every program needs are bound in from it, then goes out of sight. ptmx is
    // copied instead: the kernel finds the pseudo-terminals of a ptmx node in
    // the "pts" beside it, and a bound node's own folder is the real /dev.
    const char* script =
        "real=$(mktemp -d); mount --rbind /dev \"$real\"; mount -t tmpfs tmpfs /dev; "
        "cp -a \"$real/ptmx\" /dev/; for node in null zero full random urandom tty; do "
        "touch /dev/$node; mount --bind \"$real/$node\" /dev/$node; done; "
        "for folder in pts shm; do mkdir /dev/$folder; "
        "mount --rbind \"$real/$folder\" /dev/$folder; done; "
        "for node in \"$real\"/tty*lt\"$0\"x*; do "
        "if [ -e \"$node\" ] || [ -L \"$node\" ]; then cp -a \"$node\" /dev/; fi; done; "
        "umount -l \"$real\"; rmdir \"$real\"; exec \"$@\"";
    std::vector<std::string> wrapped = {
        "/usr/bin/unshare", "--mount", "/bin/sh", "-ec", script, std::to_string(getpid())};
    wrapped.insert(wrapped.end(), command.begin(), command.end());
    return wrapped;
}

bool run_in_own_devices() {
    // The pid of the program run again there, which keeps its pid: the
    // programs it starts inherit the variable with pids of their own.
    const char* const marker = "LANTORIC_TEST_OWN_DEVICES";
    const std::string pid = std::to_string(getpid());
    const char* inside = std::getenv(marker);
    if (inside != nullptr && pid == inside) {
        return true;
    }
    if (geteuid() != 0) {
        return false;
    }
    std::ifstream arguments_file("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> command;
    for (std::string argument; std::getline(arguments_file, argument, '\0');) {
        command.push_back(argument);
    }
    std::error_code error;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || command.empty()) {
        return false;
    }
    command.front() = program;
    const std::vector<std::string> wrapped = with_own_devices(command);
    std::vector<char*> argv;
    for (const std::string& argument : wrapped) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    setenv(marker, pid.c_str(), 1);
    execv(argv.front(), argv.data());
    std::perror("cannot run the tests again in a /dev of their own");
    unsetenv(marker);
    return false;
}
