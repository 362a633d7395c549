// A simulated K-line adapter for tests: the adapter_simulator program (see its
// --help for the modes) run as a child process, linked at a path the test
// chooses. A test without hardware opens the link like a real /dev/ttyUSB node.
#pragma once

#include "tests/support/device_links.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// A car on the simulated K-line behind link: an ECU and its faults and the
// adapter's (for example {"--ecu-fault=late-sync"}, {"--no-echo"}), the FIFO
// its break changes come through and its log made in folder.
struct SimulatedCar {
    std::string link;
    std::string protocol; // "iso9141", "kwp-slow", "kwp-fast", "kw1281", "silent"
    std::vector<std::string> options;
    std::string folder;
};

class SimulatedAdapter {
  public:
    // Starts the simulator with the link path and mode options (for example
    // {"--silent"} or {"--before=0"}; none means echo) and waits up to five
    // seconds for its ready line. On failure the current test fails and
    // ready() is false. Make it on a thread that outlives it (the test's own):
    // the simulator gets SIGTERM when the thread that started it ends, so a
    // test process that dies abruptly leaves no link behind.
    explicit SimulatedAdapter(std::string link, std::vector<std::string> options = {});
    // The same with a car on the line: folder/breaks (a FIFO) and
    // folder/ecu.log exist once ready() is true.
    explicit SimulatedAdapter(const SimulatedCar& car);
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

    // With a car: the FIFO that carries the tester's break changes to the
    // ECU, and the ECU's log.
    const std::string& breaks_fifo() const { return breaks_fifo_; }
    const std::string& ecu_log() const { return ecu_log_; }
    // What the ECU logged so far: one line per thing it saw and did ("RX 33",
    // "REQUEST 68 6A F1 01 00 C4", "END StopCommunication", "IGNORE why"),
    // each after the steady clock's milliseconds.
    std::string ecu_log_text() const;
    // The start of a command run under the driver emulation library, playing
    // driver (empty: a plain pseudo-terminal) on this adapter's link, with
    // its break changes reaching the ECU; the program and its arguments follow.
    std::vector<std::string> under_emulation(const std::string& library,
                                             const std::string& driver = {}) const;

    // Waits up to the deadline for the simulator to end by itself (the vanish
    // options). True when it did; its exit status is then exit_status().
    bool wait_for_exit(std::chrono::milliseconds deadline);
    int exit_status() const { return exit_status_; }

  private:
    void start(std::vector<std::string> options);

    std::string link_;
    std::string breaks_fifo_;
    std::string ecu_log_;
    std::string slave_;
    pid_t pid_ = -1;
    int output_ = -1;
    bool ready_ = false;
    bool exited_ = false;
    int exit_status_ = -1;
};
