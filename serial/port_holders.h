// Who else has a port open, found through /proc: what a user needs to know
// before blaming the adapter, and what decides whether a test may touch the
// port's waiting input.
#pragma once

#include <string>
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
};

// Whether other programs have the port open (the device end of a
// pseudo-terminal does not count).
inline bool shared_with_others(const PortHolders& holders) {
    return !holders.processes.empty();
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
