#include "check/output/report_file.h"

#include "base/small_file.h"

#include "base/owners.h"
#include "check/common/byte_text.h"
#include "check/output/block_output.h"
#include "check/output/text_printer.h"
#include "check/port/interruption.h"
#include "check/port/port_listing.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>

namespace {

// Room taken for each report file before the test: more than a report of many
// ports and failures needs, and less than any folder with room at all has.
constexpr off_t REPORT_ROOM = 64 * 1024;

// The distribution's own name for itself, from os-release.
std::string distribution() {
    std::istringstream lines(read_small_file("/etc/os-release", 4096));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string name = line.substr(12);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                name = name.substr(1, name.size() - 2);
            }
            return escaped(name);
        }
    }
    return "unknown";
}

// The groups a user needs to open the ports: dialout, and each port's own.
std::string groups_that_matter(const PortListing& listing) {
    std::set<gid_t> groups;
    if (group* dialout = getgrnam("dialout"); dialout != nullptr) {
        groups.insert(dialout->gr_gid);
    }
    for (const ListedPort& port : listing.ports) {
        struct stat status {};
        if (stat(port.path.c_str(), &status) == 0) {
            groups.insert(status.st_gid);
        }
    }
    // A user's own group bears the user's name, which the report leaves out.
    const passwd* user = getpwuid(getuid());
    const std::string own = user != nullptr ? user->pw_name : "";
    std::string text;
    for (gid_t gid : groups) {
        const GroupAccess access = group_access(gid);
        const std::string name =
            access.group == own ? "your own group (its name left out)" : escaped(access.group);
        text += "  " + name + ": in this session " + (access.in_session ? "yes" : "no") +
                ", in the group database " + (access.in_database ? "yes" : "no") + "\n";
    }
    return text.empty() ? "  none found\n" : text;
}

// Every distinct advice of the listing and the tests ("fix: ...", and what
// a silent bus asks for), in order.
std::string next_steps(const std::string& text) {
    std::set<std::string> seen;
    std::string steps;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::size_t at = std::string::npos;
        for (const char* advice : {"fix: ", "nothing came back: "}) {
            if (const auto found = line.find(advice); found != std::string::npos) {
                at = found + std::strlen(advice);
            }
        }
        if (at != std::string::npos && seen.insert(line.substr(at)).second) {
            steps += "  - " + line.substr(at) + "\n";
        }
    }
    return steps.empty() ? "  nothing: no check found a fault to mend\n" : steps;
}

// The texts of the listing and the tests with the user's own group, which
// bears the user's name, named as such wherever they name a group to be in
// ("belongs to group NAME", "usermod -aG NAME").
std::string without_own_group(std::string text) {
    const passwd* user = getpwuid(getuid());
    if (user == nullptr) {
        return text;
    }
    const std::string own = escaped(user->pw_name);
    const std::pair<std::string, std::string> namings[] = {
        {"group " + own, "your own group (its name left out)"}, {"-aG " + own, "-aG $USER"}};
    for (const auto& [named, instead] : namings) {
        for (std::size_t at = text.find(named); at != std::string::npos;
             at = text.find(named, at)) {
            const std::size_t end = at + named.size();
            const unsigned char next = end < text.size() ? text[end] : ' ';
            if (std::isalnum(next) != 0 ||
                std::string_view("_-.$").find(next) != std::string_view::npos) {
                at = end; // a longer name that begins with the user's
                continue;
            }
            text.replace(at, named.size(), instead);
            at += instead.size();
        }
    }
    return text;
}

// Why a node that is there takes no report: only a regular file is replaced,
// and never the one standard output already writes to, which the report would
// cut off. Empty when it may be replaced.
std::string unfit_node(const struct stat& node) {
    if (!S_ISREG(node.st_mode)) {
        const char* kind = S_ISLNK(node.st_mode)    ? "a symbolic link"
                           : S_ISFIFO(node.st_mode) ? "a FIFO"
                           : S_ISDIR(node.st_mode)  ? "a folder"
                           : S_ISCHR(node.st_mode)  ? "a character device"
                           : S_ISBLK(node.st_mode)  ? "a block device"
                                                    : "a socket";
        return std::string("it is ") + kind + ", not a regular file; give a new file's name";
    }
    struct stat output {};
    if (fstat(STDOUT_FILENO, &output) == 0 && output.st_dev == node.st_dev &&
        output.st_ino == node.st_ino) {
        return "standard output goes to it already; give another file";
    }
    return {};
}

std::string folder_of(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash + 1);
}

// Whether a file may have been put in its folder by another user for this one
// to write into, as the kernel's protected_regular rule has it: a sticky
// folder others may write in, and a file neither this user's nor the folder
// owner's.
bool planted(const struct stat& node, const std::string& folder) {
    struct stat place {};
    return node.st_uid != geteuid() && stat(folder.c_str(), &place) == 0 &&
           (place.st_mode & S_ISVTX) != 0 && (place.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
           node.st_uid != place.st_uid;
}

// Why one file cannot take the report, looked at without opening it or
// following a link: a node there must be fit, this user's to replace and
// writable, and its folder must take a new file. Empty when it can.
std::string report_problem(const std::string& file) {
    const std::string folder = folder_of(file);
    struct stat node {};
    if (lstat(file.c_str(), &node) == 0) {
        if (std::string unfit = unfit_node(node); !unfit.empty()) {
            return unfit;
        }
        if (planted(node, folder)) {
            return "it belongs to another user, in a folder where others may put files; give a "
                   "new file's name";
        }
        if (faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
            return std::strerror(errno);
        }
    } else if (errno != ENOENT) {
        return std::strerror(errno);
    }
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "no new file can be made in " + escaped(folder) + ": " + std::strerror(errno);
    }
    return {};
}

// The name of a file made beside path for a while, the attempt-th tried.
std::string beside(const std::string& path, int attempt) {
    return path + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".new";
}

// A new file beside path, of a name no other file has, in name; none (errno
// set) when it cannot be made.
OwnedDescriptor new_file_beside(const std::string& path, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = beside(path, attempt);
        OwnedDescriptor made(open(
            name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666));
        if (made || errno != EEXIST) {
            return made;
        }
    }
    return {};
}

// Makes a file in path's folder and takes room in it: one without a name
// where the filesystem has such files, which a program ended in any way
// leaves nothing of; elsewhere one with a name, removed again at once, which
// shows that a file can be made and written there. Empty when it could.
std::string make_room(const std::string& path, OwnedDescriptor& unnamed) {
    const std::string folder = folder_of(path);
    unnamed.reset(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    std::string name;
    OwnedDescriptor named;
    if (!unnamed && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        named = new_file_beside(path, name);
    }
    const int file = unnamed ? unnamed.get() : named.get();
    const int error = file < 0 ? errno : posix_fallocate(file, 0, REPORT_ROOM);
    if (named) {
        unlink(name.c_str());
    }
    if (error != 0) {
        unnamed.reset();
        return "no file can be made and written in " + escaped(folder) + ": " +
               std::strerror(error);
    }
    return {};
}

// The file's contents become text, kept on the disk. Empty when they did.
std::string fill(int file, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t step =
            pwrite(file, text.data() + written, text.size() - written, static_cast<off_t>(written));
        if (step <= 0) {
            return std::strerror(step < 0 ? errno : EIO);
        }
        written += static_cast<std::size_t>(step);
    }
    if (ftruncate(file, static_cast<off_t>(text.size())) != 0 || fsync(file) != 0) {
        return std::strerror(errno);
    }
    return {};
}

// Gives a file without a name a name beside path, in name. Empty when it did.
std::string link_beside(int file, const std::string& path, std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = beside(path, attempt);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return {};
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int error = errno;
    name.clear();
    return std::strerror(error);
}

// Puts text at path, looked at again (the run may have taken hours): written
// into unnamed (or a new file where there is none) and renamed into place,
// which never writes into the file it replaces. A file of this user's keeps
// its mode. Empty when it did; no new name is left behind when not.
std::string put_in_place(const std::string& path, OwnedDescriptor& unnamed,
                         const std::string& text) {
    if (std::string problem = report_problem(path); !problem.empty()) {
        return problem;
    }
    struct stat old {};
    const bool own_replaced = lstat(path.c_str(), &old) == 0 && old.st_uid == geteuid();
    // A signal between the naming and the rename would leave the name behind.
    SignalsDeferred deferred;
    std::string name;
    OwnedDescriptor named;
    if (!unnamed) {
        named = new_file_beside(path, name);
        if (!named) {
            return std::strerror(errno);
        }
    }
    const int file = unnamed ? unnamed.get() : named.get();
    std::string problem = fill(file, text);
    if (problem.empty() && own_replaced && fchmod(file, old.st_mode & 0777) != 0) {
        problem = std::strerror(errno);
    }
    if (problem.empty() && unnamed) {
        problem = link_beside(file, path, name);
    }
    if (problem.empty() && rename(name.c_str(), path.c_str()) != 0) {
        problem = std::strerror(errno);
    }
    if (!problem.empty() && !name.empty()) {
        unlink(name.c_str());
    }
    return problem;
}

} // namespace

bool ReportFiles::prepare(const std::string& file, bool json, std::string& error) {
    targets_.clear();
    for (const std::string& path : json ? std::vector{file, file + ".json"} : std::vector{file}) {
        Target target{path, {}};
        std::string problem = report_problem(path);
        if (problem.empty()) {
            problem = make_room(path, target.unnamed);
        }
        if (!problem.empty()) {
            error = "cannot write the report " + escaped(path) + ": " + problem;
            targets_.clear();
            return false;
        }
        targets_.push_back(std::move(target));
    }
    return true;
}

bool ReportFiles::write(const std::string& tests_text, const std::string& json,
                        std::string& error) {
    utsname system{};
    uname(&system);
    const PortListing listing = list_ports();
    BlockOutput listing_text(true, false);
    listing_text.block([&](std::FILE* out) { print_listing(listing, out); });
    const std::string listed = without_own_group(listing_text.kept());
    const std::string tests = without_own_group(tests_text);
    std::string report = "lantoric-check report\n"
                         "User and host names are left out of this report.\n\n";
    report += "program: lantoric-check " LANTORIC_VERSION "\n";
    report += "kernel: " + escaped(system.release) + "\n";
    report += "distribution: " + distribution() + "\n\n";
    report += "groups that open the ports:\n" + groups_that_matter(listing) + "\n";
    report += "ports:\n" + listed + "\n";
    report += "tests:\n" + (tests.empty() ? "  none\n" : tests) + "\n";
    report += "what to do next:\n" + next_steps(listed + tests);
    const std::string texts[] = {report, without_own_group(json)};
    for (std::size_t i = 0; i < targets_.size() && i < std::size(texts); ++i) {
        if (const std::string problem =
                put_in_place(targets_[i].path, targets_[i].unnamed, texts[i]);
            !problem.empty()) {
            error = "cannot write the report " + escaped(targets_[i].path) + ": " + problem;
            return false;
        }
    }
    return true;
}
