// A simulated K-line adapter for tests: the adapter_simulator program (see its
// --help for the modes) run as a child process, linked at a path the test
// chooses. A test without hardware opens the link like a real /dev/ttyUSB node.
#pragma once

#include "tests/support/device_links.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class SimulatedAdapter {
  public:
    // Starts the simulator with the link path and mode options (for example
    // {"--silent"} or {"--before=0"}; none means echo) and waits up to five
    // seconds for its ready line. On failure the current test fails and
    // ready() is false. Make it on a thread that outlives it (the test's own):
    // the simulator gets SIGTERM when the thread that started it ends, so a
    // test process that dies abruptly leaves no link behind.
    explicit SimulatedAdapter(std::string link, std::vector<std::string> options = {});
    // Stops the simulator with SIGTERM, waits for it (SIGKILL after five
    // seconds) and fails the test if it left its link behind (then removes it).
    ~SimulatedAdapter();
    SimulatedAdapter(const SimulatedAdapter&) = delete;
    SimulatedAdapter& operator=(const SimulatedAdapter&) = delete;

    bool ready() const { return ready_; }
    // The link path, as given.
    const std::string& link() const { return link_; }
    // The pseudo-terminal slave behind the link ("/dev/pts/N").
    const std::string& slave() const { return slave_; }
    pid_t pid() const { return pid_; }

    // Waits up to the deadline for the simulator to end by itself (the vanish
    // options). True when it did; its exit status is then exit_status().
    bool wait_for_exit(std::chrono::milliseconds deadline);
    int exit_status() const { return exit_status_; }

  private:
    std::string link_;
    std::string slave_;
    pid_t pid_ = -1;
    int output_ = -1;
    bool ready_ = false;
    bool exited_ = false;
    int exit_status_ = -1;
};
