// One run of the real lantoric program under the test display, watched through
// the snapshot module and ended for sure: a run still going when the object
// goes away is killed and reaped.
#pragma once

#include "tests/e2e/window_snapshot.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

class ProgramRun {
  public:
    // Makes a private folder for the run's snapshot and output files; the
    // program is not started yet.
    ProgramRun();
    // Kills the program if it still runs, reaps it and removes the folder.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Starts lantoric with the snapshot module loaded, its standard output and
    // error going to files. False (and a test failure) when it cannot start.
    bool start();

    // The latest complete snapshot; an empty one (tick 0) before the first.
    WindowSnapshot snapshot() const;

    // Waits until condition holds for a snapshot, taken at least every 20 ms,
    // and returns that snapshot. On timeout, or when the program ends first,
    // the test fails with what, the last snapshot and the program's error
    // output, and nothing is returned.
    std::optional<WindowSnapshot>
    wait_for(const std::string& what, const std::function<bool(const WindowSnapshot&)>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // A snapshot written after this call began: the module has walked the
    // windows at least once since. Nothing if none comes within the timeout.
    std::optional<WindowSnapshot>
    fresh_snapshot(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits for the program to end by itself; its wait status, or nothing when
    // it still runs at the deadline.
    std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

    bool running();
    // Whether the running program holds a descriptor of this file (a pseudo-
    // terminal slave, for example), as /proc shows it.
    bool holds_open(const std::string& path) const;
    pid_t pid() const { return pid_; }
    // What the program wrote to its standard output so far.
    std::string standard_output() const;
    // What the program wrote to its standard error so far.
    std::string error_output() const;
    // The lines of the error output that report a fault: sanitizer reports,
    // toolkit criticals and warnings. The program itself prints nothing.
    std::string fault_reports() const;

  private:
    std::string folder_;
    std::string snapshot_path_;
    std::string output_path_;
    std::string error_path_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int wait_status_ = 0;
};
