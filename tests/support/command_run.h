// Runs a command-line program to its end for a test: its output, its error
// output and how it ended, with a deadline after which it is killed.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct CommandResult {
    // The exit status; -1 when it ended by a signal, could not start or was
    // killed at the deadline.
    int status = -1;
    bool timed_out = false;
    std::string output;
    std::string errors;
};

// Runs arguments[0] (a path; not looked up in PATH) with the arguments, its
// standard input from /dev/null, and waits for it up to the deadline.
CommandResult run_command(const std::vector<std::string>& arguments,
                          std::chrono::milliseconds deadline = std::chrono::seconds(60));
