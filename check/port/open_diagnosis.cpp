#include "check/port/open_diagnosis.h"

#include "base/owners.h"
#include "base/small_file.h"
#include "check/common/byte_text.h"
#include "check/common/verdict.h"
#include "check/port/interruption.h"
#include "check/port/node_path.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// At most this much of a lock file is read: a pid and white space fit many
// times over, and a huge or endless file costs nothing.
constexpr std::size_t LOCK_FILE_LIMIT = 128;

OpenReport report(OpeningFailure failure, std::string reason, std::string fix) {
    return {failure, std::move(reason), std::move(fix)};
}

// A reason that starts with its failure's word: "busy: another program has
// /dev/ttyUSB0 open".
OpenReport worded(OpeningFailure failure, const std::string& found, std::string fix) {
    return report(failure, opening_failure_word(failure) + (": " + found), std::move(fix));
}

OpenReport opens() {
    return report(OpeningFailure::none, opening_failure_word(OpeningFailure::none), "");
}

std::string link_target(const std::string& path) {
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// What a node is when it is no serial line.
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
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return "a device of another kind";
}

long pid_maximum() {
    // Failing that, the kernel's own limit (PID_MAX_LIMIT on 64-bit).
    const long value =
        std::strtol(read_small_file("/proc/sys/kernel/pid_max", 31).c_str(), nullptr, 10);
    return value > 0 ? value : 4194304;
}

// ASCII decimal digits with nothing but white space around them; a value above
// limit comes back as limit + 1 however long the digits run.
std::optional<long long> decimal_in_spaces(const std::string& text, long limit) {
    std::size_t at = 0;
    auto is = [&](auto test) {
        return at < text.size() && test(static_cast<unsigned char>(text[at])) != 0;
    };
    while (is(isspace)) {
        ++at;
    }
    const std::size_t digits = at;
    long long value = 0;
    while (is(isdigit)) {
        value = std::min<long long>(value * 10 + (text[at] - '0'), limit + 1LL);
        ++at;
    }
    if (at == digits) {
        return std::nullopt;
    }
    while (is(isspace)) {
        ++at;
    }
    return at == text.size() ? std::optional<long long>(value) : std::nullopt;
}

OpenReport permission_report(const std::string& path, gid_t gid) {
    GroupAccess access = group_access(gid);
    const std::string group = escaped(access.group);
    const std::string reason = escaped(path) + " belongs to group " + group;
    if (access.in_database && !access.in_session) {
        return worded(OpeningFailure::permission_denied,
                      reason + ", which you joined after this session began",
                      "log out and in again (or reboot) so the session gets group " + group);
    }
    if (!access.in_session && access.gid == 0) {
        return worded(OpeningFailure::permission_denied, reason + ", and you are not in it",
                      "users are not meant to join group " + group +
                          ": ask the administrator for a udev rule that gives the port group "
                          "dialout, then join that");
    }
    if (!access.in_session) {
        return worded(OpeningFailure::permission_denied, reason + ", and you are not in it",
                      "sudo usermod -aG " + group + " \"$USER\", then log out and in again");
    }
    return worded(OpeningFailure::permission_denied,
                  reason + ", which you have, but the node's mode does not let the group in",
                  "ask the administrator to check the udev rules that set its mode");
}

OpenReport busy_report(const std::string& path, const PortOpening& opening) {
    const std::string fix = "close the program that uses the port, then test again";
    switch (opening.hold) {
    case OpeningHold::flock:
        return worded(OpeningFailure::busy, "another program has locked " + path + " (flock)", fix);
    case OpeningHold::shared:
        return worded(OpeningFailure::busy, "another program has " + path + " open", fix);
    case OpeningHold::exclusive:
    case OpeningHold::none:
        break;
    }
    // Others are refused by the open itself; root passes it and asks.
    return worded(OpeningFailure::busy,
                  "another program holds " + path + " exclusively" +
                      (opening.error == EBUSY ? "" : " (TIOCEXCL)"),
                  fix);
}

} // namespace

GroupAccess group_access(gid_t gid) {
    GroupAccess access;
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

pid_t lock_file_pid(const std::string& content, long pid_max) {
    long long pid = 0;
    if (auto decimal = decimal_in_spaces(content, pid_max)) {
        pid = *decimal;
    } else if (content.size() == sizeof(std::int32_t)) {
        // Old programs wrote the pid as a binary int, whatever its bytes.
        std::int32_t binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        pid = binary;
    }
    return pid >= 1 && pid <= pid_max ? static_cast<pid_t>(pid) : 0;
}

pid_t uucp_lock_owner(const std::string& lock_file) {
    // No link is followed and nothing blocks: a FIFO or a link to /dev/zero
    // planted in the world-writable lock folder is no lock file.
    OwnedDescriptor lock(
        open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!lock || fstat(lock.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    char content[LOCK_FILE_LIMIT];
    const ssize_t got = read(lock.get(), content, sizeof content);
    if (got <= 0) {
        return 0;
    }
    const pid_t pid =
        lock_file_pid(std::string(content, static_cast<std::size_t>(got)), pid_maximum());
    if (pid == 0 || (kill(pid, 0) != 0 && errno != EPERM)) {
        return 0;
    }
    return pid;
}

OpenReport describe_opening(const std::string& raw_path, const PortOpening& opening) {
    const std::string path = escaped(raw_path);
    const std::string unplugged = unplugged_advice(": ");
    const std::string serial_port = "give the path of a serial port, such as /dev/ttyUSB0";
    switch (opening.failure) {
    case OpeningFailure::none:
        return opens();
    case OpeningFailure::missing:
        return report(OpeningFailure::missing, "no such file: " + path,
                      "plug the adapter in, or check the name (lantoric-check alone lists "
                      "the ports there are)");
    case OpeningFailure::gone:
        if (opening.error == ENOENT) {
            return worded(OpeningFailure::gone,
                          path + " leads to " + escaped(link_target(raw_path)) +
                              ", which is not there",
                          unplugged);
        }
        return worded(OpeningFailure::gone,
                      "no device answers behind " + path + " (" + std::strerror(opening.error) +
                          ")",
                      unplugged);
    case OpeningFailure::not_a_serial_line:
        if (opening.error == ENOTTY) {
            return worded(OpeningFailure::not_a_serial_line, path + " opens, but is no terminal",
                          serial_port);
        }
        if (S_ISCHR(opening.mode)) {
            return worded(OpeningFailure::not_a_serial_line,
                          path + " is a character device of no terminal; it was not opened",
                          serial_port);
        }
        return worded(OpeningFailure::not_a_serial_line, path + " is " + kind_of(opening.mode),
                      serial_port);
    case OpeningFailure::own_terminal:
        return worded(OpeningFailure::own_terminal,
                      path + " is the terminal lantoric-check runs in; testing it would write "
                             "into your screen",
                      "give the path of the adapter's port, such as /dev/ttyUSB0");
    case OpeningFailure::permission_denied:
        return permission_report(raw_path, opening.group);
    case OpeningFailure::busy:
        return busy_report(path, opening);
    case OpeningFailure::refused_rate:
        return worded(OpeningFailure::refused_rate,
                      "the driver of " + path + " does not accept " +
                          std::to_string(opening.refused_rate) + " baud (" +
                          std::strerror(opening.error) + ")",
                      "choose a rate the adapter supports, such as 9600 or 10400");
    case OpeningFailure::failed:
        break;
    }
    return report(OpeningFailure::failed, path + ": " + std::strerror(opening.error), REPLUG_FIX);
}

std::vector<std::string> uucp_lock_files(const std::string& path, const std::string& lock_folder) {
    std::vector<std::string> files;
    for (const std::string& name : {base_name(path), base_name(link_target(path))}) {
        if (!name.empty()) {
            files.push_back(lock_folder + "/LCK.." + name);
        }
    }
    return files;
}

OpenReport check_open(const std::string& path, const std::string& lock_folder) {
    // The look takes the port's hold for a moment, which a signal must not
    // end the program with.
    SignalsDeferred deferred;
    PortRequest request;
    request.path = path;
    request.serial_lines_only = true;
    const PortOpening opening = port_open(request);
    if (opening.failure != OpeningFailure::none) {
        return describe_opening(path, opening);
    }
    for (const std::string& lock_file : uucp_lock_files(path, lock_folder)) {
        if (pid_t owner = uucp_lock_owner(lock_file); owner != 0) {
            return worded(OpeningFailure::busy,
                          escaped(lock_file) + " says process " + std::to_string(owner) + " (" +
                              escaped(process_name(owner)) + ") uses " + escaped(path),
                          "close that program, then test again");
        }
    }
    OpenReport opened = opens();
    opened.input_waiting = opening.holders.input_waiting;
    return opened;
}

PortLook look_at_port(const std::string& path) {
    PortLook look;
    look.open = check_open(path);
    if (holders_matter(look.open.failure)) {
        look.holders = port_holders(path);
        look.holders.input_waiting = look.open.input_waiting;
    }
    return look;
}

bool holders_matter(OpeningFailure failure) {
    return failure != OpeningFailure::not_a_serial_line && failure != OpeningFailure::gone &&
           failure != OpeningFailure::missing && failure != OpeningFailure::own_terminal;
}
