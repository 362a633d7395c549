// Who else has a port open, found through /proc: what a user needs to know
// before blaming the adapter, and what decides whether a test may touch the
// port's waiting input.
#pragma once

#include <string>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <vector>

// A process that has the port open. Its command is the process's own name
// (/proc/PID/comm), chosen by whoever started it: escape it before printing.
struct PortHolder {
    pid_t pid = 0;
    std::string command;
};

struct PortHolders {
    std::vector<PortHolder> processes;
    // False when some process could not be looked into (another user's, for
    // a user who is not root).
    bool all_visible = true;
    // Bytes waiting unread on the port when this program had it open to
    // look; 0 when it did not.
    int input_waiting = 0;
};

// The first pseudo-terminal slave major; devpts numbers slaves across the
// majors from here on, 256 to a major (the kernel's UNIX98_PTY_SLAVE_MAJOR
// and UNIX98_PTY_MAJOR_COUNT).
inline constexpr unsigned PTY_SLAVE_MAJOR = 136;
inline constexpr unsigned PTY_SLAVE_MAJORS = 8;

// Whether the character device is a pseudo-terminal's slave, by its major.
inline bool is_pseudo_terminal_slave(dev_t rdev) {
    return major(rdev) >= PTY_SLAVE_MAJOR && major(rdev) < PTY_SLAVE_MAJOR + PTY_SLAVE_MAJORS;
}

// Whether other programs have the port open (the device end of a
// pseudo-terminal does not count), or probably do: input waits unread on a
// port that processes this user cannot see may have open.
inline bool shared_with_others(const PortHolders& holders) {
    return !holders.processes.empty() || (!holders.all_visible && holders.input_waiting > 0);
}

// Whether input waiting on the port is this program's to drop: no other
// program can have the port open.
inline bool input_is_ours(const PortHolders& holders) {
    return holders.processes.empty() && holders.all_visible;
}

// The name a process gave itself (/proc/PID/comm, at most 15 bytes); empty
// when it cannot be read. Any thread; no lock.
std::string process_name(pid_t pid);

// The processes other than this one that have the character device rdev
// open. A process that holds the master of a pseudo-terminal is that
// terminal's device end, not a competing user of it (a simulator keeps both
// ends open): it is left out. Reads at most a few hundred bytes per process.
// Any thread; no lock.
PortHolders port_holders(dev_t rdev);

// The same for the node at path (links followed); none for a node that is no
// character device.
PortHolders port_holders(const std::string& path);
