// Why a serial port does or does not open, and who else has it: what a user
// needs to know before blaming the adapter. Nothing here changes the line's
// settings; the one open made is closed again at once.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

enum class OpenOutcome {
    opens,
    permission_denied,
    busy,
    not_a_terminal, // opens, but no serial line behind it (/dev/null, a FIFO, a file)
    gone,           // a link whose target has gone
    missing,        // no such file
    failed,         // any other error of the open
};

// A process that has the port open.
struct PortHolder {
    pid_t pid = 0;
    std::string command;
};

struct OpenReport {
    OpenOutcome outcome = OpenOutcome::failed;
    // One line: what was found ("permission denied: /dev/ttyUSB0 belongs to group dialout").
    std::string reason;
    // One line: what to do about it; empty when the port opens.
    std::string fix;
    // The outcome as one word for scripts: "opens", "permission denied", "busy",
    // "no serial line", "gone", "missing", "failed".
    std::string word;
};

// Tries the port the way the tester opens it (read and write, no controlling
// terminal, non-blocking) and closes it again. A FIFO, a folder or any other
// node that is not a character device is never opened, so nothing blocks.
// An open that succeeds still counts as busy when another program holds the
// port exclusively (TIOCEXCL, which root's own open passes) or with flock, or
// a live process owns its UUCP lock file in lock_folder.
OpenReport check_open(const std::string& path, const std::string& lock_folder = "/run/lock");

// The processes other than this one that have the device open, found through
// /proc (only those the caller may look into). visible_all is set false when
// some process could not be looked into.
std::vector<PortHolder> port_holders(const std::string& path, bool& visible_all);

// Whether the holders of a node with this outcome are worth naming: not for
// nodes that are no serial line (every program has /dev/null open) or are gone.
bool holders_matter(OpenOutcome outcome);

// The group the device node belongs to, and whether the running process has
// it now and the group database lists the user in it: a user added to the
// group who has not logged in again has the second without the first.
struct GroupAccess {
    gid_t gid = 0;
    std::string group;
    bool in_session = false;
    bool in_database = false;
};
GroupAccess group_access(const std::string& path);
