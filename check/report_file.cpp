#include "check/report_file.h"

#include "base/small_file.h"

#include "base/owners.h"
#include "check/block_output.h"
#include "check/byte_text.h"
#include "check/port_listing.h"
#include "check/text_printer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

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

// Why one file cannot take the report, looked at without opening it: a node
// there must be fit and writable, a new file needs a folder this user may
// write in. Empty when it can.
std::string report_problem(const std::string& file) {
    struct stat node {};
    if (lstat(file.c_str(), &node) == 0) {
        if (std::string unfit = unfit_node(node); !unfit.empty()) {
            return unfit;
        }
        return faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0 ? "" : std::strerror(errno);
    }
    if (errno != ENOENT) {
        return std::strerror(errno);
    }
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "no new file can be made in " + escaped(folder) + ": " + std::strerror(errno);
    }
    return {};
}

bool write_file(const std::string& file, const std::string& text, std::string& error) {
    std::string problem = report_problem(file);
    OwnedDescriptor out;
    if (problem.empty()) {
        // Should the node change after the look, this open still neither
        // follows a link nor waits for a FIFO's reader, and what it opened is
        // looked at again before anything is cut.
        out.reset(open(file.c_str(),
                       O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
        struct stat node {};
        problem = !out                           ? std::strerror(errno)
                  : fstat(out.get(), &node) != 0 ? std::strerror(errno)
                                                 : unfit_node(node);
        if (problem.empty() && ftruncate(out.get(), 0) != 0) {
            problem = std::strerror(errno);
        }
    }
    std::size_t written = 0;
    while (problem.empty() && written < text.size()) {
        const ssize_t step = write(out.get(), text.data() + written, text.size() - written);
        if (step <= 0) {
            problem = std::strerror(step < 0 ? errno : EIO);
            break;
        }
        written += static_cast<std::size_t>(step);
    }
    if (problem.empty() && close(out.release()) != 0) {
        problem = std::strerror(errno);
    }
    if (!problem.empty()) {
        error = "cannot write the report " + escaped(file) + ": " + problem;
        return false;
    }
    return true;
}

} // namespace

bool report_writable(const std::string& file, bool json, std::string& error) {
    for (const std::string& each : {file, file + ".json"}) {
        if (const std::string problem = report_problem(each); !problem.empty()) {
            error = "cannot write the report " + escaped(each) + ": " + problem;
            return false;
        }
        if (!json) {
            break;
        }
    }
    return true;
}

bool write_report(const std::string& file, const std::string& tests_text, const std::string& json,
                  std::string& error) {
    utsname system{};
    uname(&system);
    const PortListing listing = list_ports();
    BlockOutput listing_text(true, false);
    listing_text.block([&](std::FILE* out) { print_listing(listing, out); });
    std::string report = "lantoric-check report\n"
                         "User and host names are left out of this report.\n\n";
    report += "program: lantoric-check " LANTORIC_VERSION "\n";
    report += "kernel: " + escaped(system.release) + "\n";
    report += "distribution: " + distribution() + "\n\n";
    report += "groups that open the ports:\n" + groups_that_matter(listing) + "\n";
    report += "ports:\n" + listing_text.kept() + "\n";
    report += "tests:\n" + (tests_text.empty() ? "  none\n" : tests_text) + "\n";
    report += "what to do next:\n" + next_steps(listing_text.kept() + tests_text);
    return write_file(file, report, error) &&
           (json.empty() || write_file(file + ".json", json, error));
}
