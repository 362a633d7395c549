// Why a serial port does or does not open, and who else has it: what a user
// needs to know before blaming the adapter. The port is looked at through the
// one opening of serial/port_opening.h, without setting its line.
#pragma once

#include "serial/port_opening.h"

#include <string>
#include <sys/types.h>
#include <vector>

struct OpenReport {
    OpeningFailure failure = OpeningFailure::failed;
    // One line: what was found, after the failure's word
    // (opening_failure_word) but for missing ("no such file: ") and failed
    // (the path): "permission denied: /dev/ttyUSB0 belongs to group
    // dialout". Texts from others (paths, link targets, commands) come
    // escaped, so the line is safe to print.
    std::string reason;
    // One line: what to do about it; empty when the port opens.
    std::string fix;
    // Bytes that waited unread when the port was looked at.
    int input_waiting = 0;

    bool opens() const { return failure == OpeningFailure::none; }
    const char* word() const { return opening_failure_word(failure); }
};

// Looks at the port the way a test opens it (serial lines only, never one of
// this program's own terminals, never blocking) and closes it again at once,
// its line untouched, with signals held back meanwhile. An open that
// succeeds still counts as busy when a live process owns its UUCP lock file
// in lock_folder.
OpenReport check_open(const std::string& path, const std::string& lock_folder = "/run/lock");

// A look at a port before a test or in a listing: whether it opens
// (check_open) and, where it matters, who else has it open.
struct PortLook {
    OpenReport open;
    PortHolders holders;
};
PortLook look_at_port(const std::string& path);

// The report for an opening that failed (or, for OpeningFailure::none, "opens").
OpenReport describe_opening(const std::string& path, const PortOpening& opening);

// Whether the holders of a node that failed so are worth naming: not for
// nodes that are no serial line (every program has /dev/null open) or are gone.
bool holders_matter(OpeningFailure failure);

// The UUCP lock files in lock_folder that say another program uses the port:
// LCK.. with the path's last part, and with that of the link's target.
std::vector<std::string> uucp_lock_files(const std::string& path,
                                         const std::string& lock_folder = "/run/lock");

// The owner of a UUCP lock file: the pid of a live process, 0 when the file is
// absent, not a regular file, stale or names no valid process (a lock of
// unknown owner does not make a port busy). The file is opened without
// following links or blocking, and at most 128 bytes of it are read; its pid
// is ASCII decimal with white space around it, or exactly four bytes of
// binary, from 1 to the system's pid maximum.
pid_t uucp_lock_owner(const std::string& lock_file);

// The pid a lock file's content names, by the rules above; 0 when none.
pid_t lock_file_pid(const std::string& content, long pid_max);

// The group the device node belongs to, and whether the running process has
// it now and the group database lists the user in it: a user added to the
// group who has not logged in again has the second without the first.
struct GroupAccess {
    gid_t gid = 0;
    std::string group;
    bool in_session = false;
    bool in_database = false;
};
GroupAccess group_access(gid_t gid);
