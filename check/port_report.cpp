#include "check/port_report.h"

#include "gui/core/owners.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <memory>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

OpenReport report(OpenOutcome outcome, std::string reason, std::string fix) {
    static const char* const words[] = {"opens", "permission denied", "busy",  "no serial line",
                                        "gone",  "missing",           "failed"};
    return {outcome, std::move(reason), std::move(fix), words[static_cast<int>(outcome)]};
}

std::string link_target(const std::string& path) {
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string base_name(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string command_of(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    std::getline(comm, command);
    return command;
}

// What a node is when it is no character device.
const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISREG(mode)) {
        return "an ordinary file";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "a block device";
}

// The pid of a live process that owns a UUCP lock file for the device (ASCII
// or, from old programs, a binary int); 0 when there is none or it is stale.
pid_t uucp_lock_owner(const std::string& lock_file) {
    std::ifstream lock(lock_file, std::ios::binary);
    if (!lock) {
        return 0;
    }
    std::string content((std::istreambuf_iterator<char>(lock)), std::istreambuf_iterator<char>());
    long pid = 0;
    if (content.size() == sizeof(int) && (content[0] < '0' || content[0] > '9') &&
        content[0] != ' ') {
        int binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        pid = binary;
    } else {
        pid = std::strtol(content.c_str(), nullptr, 10);
    }
    if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

OpenReport permission_report(const std::string& path) {
    GroupAccess access = group_access(path);
    std::string reason = "permission denied: " + path + " belongs to group " + access.group;
    if (access.in_database && !access.in_session) {
        return report(OpenOutcome::permission_denied,
                      reason + ", which you joined after this session began",
                      "log out and in again (or reboot) so the session gets group " + access.group);
    }
    if (!access.in_session && access.gid == 0) {
        return report(OpenOutcome::permission_denied, reason + ", and you are not in it",
                      "users are not meant to join group " + access.group +
                          ": ask the administrator for a udev rule that gives the port group "
                          "dialout, then join that");
    }
    if (!access.in_session) {
        return report(OpenOutcome::permission_denied, reason + ", and you are not in it",
                      "sudo usermod -aG " + access.group + " \"$USER\", then log out and in again");
    }
    return report(OpenOutcome::permission_denied,
                  reason + ", which you have, but the node's mode does not let the group in",
                  "ask the administrator to check the udev rules that set its mode");
}

} // namespace

GroupAccess group_access(const std::string& path) {
    GroupAccess access;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return access;
    }
    const gid_t gid = status.st_gid;
    access.gid = gid;
    if (group* entry = getgrgid(gid); entry != nullptr) {
        access.group = entry->gr_name;
    } else {
        access.group = std::to_string(gid);
    }
    access.in_session = getegid() == gid;
    int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i) {
        access.in_session = access.in_session || groups[static_cast<std::size_t>(i)] == gid;
    }
    if (passwd* user = getpwuid(getuid()); user != nullptr) {
        int listed = 64;
        std::vector<gid_t> database(static_cast<std::size_t>(listed));
        if (getgrouplist(user->pw_name, user->pw_gid, database.data(), &listed) < 0) {
            database.resize(static_cast<std::size_t>(listed));
            getgrouplist(user->pw_name, user->pw_gid, database.data(), &listed);
        }
        for (int i = 0; i < listed && i < static_cast<int>(database.size()); ++i) {
            access.in_database = access.in_database || database[static_cast<std::size_t>(i)] == gid;
        }
    }
    return access;
}

OpenReport check_open(const std::string& path, const std::string& lock_folder) {
    struct stat link_status {};
    if (lstat(path.c_str(), &link_status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return report(OpenOutcome::missing, "no such file: " + path,
                          "plug the adapter in, or check the name (lantoric-check alone lists "
                          "the ports there are)");
        }
        return report(OpenOutcome::failed, path + ": " + std::strerror(errno),
                      "check the path and its folders' permissions");
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (S_ISLNK(link_status.st_mode) && errno == ENOENT) {
            return report(OpenOutcome::gone,
                          "gone: " + path + " leads to " + link_target(path) +
                              ", which is not there",
                          "the adapter was unplugged or reset: plug it in again");
        }
        return report(OpenOutcome::failed, path + ": " + std::strerror(errno),
                      "check the path and its folders' permissions");
    }
    if (!S_ISCHR(status.st_mode)) {
        return report(OpenOutcome::not_a_terminal,
                      std::string("no serial line: ") + path + " is " + kind_of(status.st_mode),
                      "give the path of a serial port, such as /dev/ttyUSB0");
    }
    OwnedDescriptor port(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (port.get() < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
            return permission_report(path);
        case EBUSY:
            return report(OpenOutcome::busy, "busy: another program holds " + path + " exclusively",
                          "close the program that uses the port, then test again");
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case EIO:
            return report(OpenOutcome::gone,
                          "gone: no device answers behind " + path + " (" + std::strerror(errno) +
                              ")",
                          "the adapter was unplugged or reset: plug it in again");
        default:
            return report(OpenOutcome::failed, path + ": " + std::strerror(errno),
                          "unplug the adapter, plug it in again and test again");
        }
    }
    if (!isatty(port.get())) {
        return report(OpenOutcome::not_a_terminal,
                      "no serial line: " + path + " opens, but is no terminal",
                      "give the path of a serial port, such as /dev/ttyUSB0");
    }
    // Root passes an exclusive hold on open, so it is asked for outright.
    int exclusive = 0;
    if (ioctl(port.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return report(OpenOutcome::busy,
                      "busy: another program holds " + path + " exclusively (TIOCEXCL)",
                      "close the program that uses the port, then test again");
    }
    if (flock(port.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return report(OpenOutcome::busy, "busy: another program has locked " + path + " (flock)",
                      "close the program that uses the port, then test again");
    }
    for (const std::string& name : {base_name(path), base_name(link_target(path))}) {
        if (name.empty()) {
            continue;
        }
        const std::string lock_file = lock_folder + "/LCK.." + name;
        if (pid_t owner = uucp_lock_owner(lock_file); owner != 0) {
            return report(OpenOutcome::busy,
                          "busy: " + lock_file + " says process " + std::to_string(owner) + " (" +
                              command_of(owner) + ") uses " + path,
                          "close that program, then test again");
        }
    }
    return report(OpenOutcome::opens, "opens", "");
}

bool holders_matter(OpenOutcome outcome) {
    return outcome != OpenOutcome::not_a_terminal && outcome != OpenOutcome::gone &&
           outcome != OpenOutcome::missing;
}

std::vector<PortHolder> port_holders(const std::string& path, bool& visible_all) {
    visible_all = true;
    std::vector<PortHolder> holders;
    struct stat device {};
    if (stat(path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return holders;
    }
    OwnedDirectory processes(opendir("/proc"));
    if (!processes) {
        visible_all = false;
        return holders;
    }
    const pid_t self = getpid();
    while (dirent* entry = readdir(processes.get())) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) {
            continue;
        }
        const std::string fd_folder = "/proc/" + std::string(entry->d_name) + "/fd";
        OwnedDirectory descriptors(opendir(fd_folder.c_str()));
        if (!descriptors) {
            // A process that ended meanwhile hides nothing.
            visible_all = visible_all && errno == ENOENT;
            continue;
        }
        while (dirent* descriptor = readdir(descriptors.get())) {
            struct stat target {};
            if (descriptor->d_name[0] == '.' ||
                fstatat(dirfd(descriptors.get()), descriptor->d_name, &target, 0) != 0) {
                continue;
            }
            if (S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev) {
                holders.push_back({static_cast<pid_t>(pid), command_of(static_cast<pid_t>(pid))});
                break;
            }
        }
    }
    return holders;
}
