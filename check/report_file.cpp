#include "check/report_file.h"

#include "check/byte_text.h"
#include "check/port_listing.h"
#include "check/printer.h"
#include "check/text_report.h"
#include "base/owners.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// The distribution's own name for itself, from os-release.
std::string distribution() {
    OwnedDescriptor file(open("/etc/os-release", O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    std::string text(4096, '\0');
    const ssize_t got = file ? read(file.get(), text.data(), text.size()) : -1;
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::istringstream lines(text);
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
    std::string text;
    for (gid_t gid : groups) {
        const GroupAccess access = group_access(gid);
        text += "  " + escaped(access.group) + ": in this session " +
                (access.in_session ? "yes" : "no") + ", in the group database " +
                (access.in_database ? "yes" : "no") + "\n";
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

bool write_file(const std::string& file, const std::string& text, std::string& error) {
    OwnedDescriptor out(
        open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    std::size_t written = 0;
    while (out && written < text.size()) {
        const ssize_t step = write(out.get(), text.data() + written, text.size() - written);
        if (step <= 0) {
            break;
        }
        written += static_cast<std::size_t>(step);
    }
    if (!out || written < text.size() || close(out.release()) != 0) {
        error = "cannot write the report " + escaped(file) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool write_report(const std::string& file, const std::string& tests_text,
                  const std::string& json, std::string& error) {
    utsname system{};
    uname(&system);
    const PortListing listing = list_ports();
    Printer listing_text(true, false);
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
    return write_file(file, report, error) && (json.empty() || write_file(file + ".json", json, error));
}
