// A wait for files to change (made, removed, renamed, their mode, owner or
// content changed), a stop request or a time, asleep in poll meanwhile: how a
// soak waits for a port that went away or closed to the user, or for a lock
// file to go, without opening the port again and again.
#pragma once

#include "base/owners.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

class FileChanges {
  public:
    // Watches the folders of the paths for changes of those entries. A folder
    // that cannot be watched (this user may not read it) is passed over: the
    // waits then end at their time only.
    explicit FileChanges(const std::vector<std::string>& paths);

    // Sleeps until one of the entries changed since the last wait, a signal
    // asks the program to stop, or until, whichever is first; a signal that
    // only interrupts the sleep continues it. What changed is not told: the
    // caller looks again. Main thread.
    void wait_until(std::chrono::steady_clock::time_point until);

  private:
    // Whether a change named one of the entries, or the kernel's queue
    // overflowed and lost some; the changes read are taken.
    bool take_changes();

    OwnedDescriptor changes_;
    // The entries looked for: the watch of their folder, and their name there.
    std::vector<std::pair<int, std::string>> entries_;
};
