// Other programs in tests: one way to start a child (the adapter simulator, the
// program under test) and one way to run a program to its end (xdotool, wmctrl,
// import, lantoric-check, the simulator with a mistaken command line).
#pragma once

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ChildSetup {
    // The program and its arguments; a program without "/" is looked up in PATH.
    std::vector<std::string> arguments;
    // Added to (or replacing) the test's own environment, as "NAME=value".
    std::vector<std::string> environment;
    // Descriptors for the child's standard output and error; -1 is /dev/null.
    // Standard input is /dev/null; every other descriptor of the test stays
    // out of the child, so a port a test closes is really closed.
    int output = -1;
    int error = -1;
    // Sent to the child when the test thread that started it ends, so a test
    // process that dies abruptly leaves no child behind.
    int death_signal = 9;
    // A process group of its own, which a kill of -pid ends whole.
    bool own_group = false;
    // Signals the child starts with ignored (as under nohup) or blocked (as
    // some service managers start programs); every other one has its default.
    std::vector<int> ignored = {};
    std::vector<int> blocked = {};
};

// Forks and executes; the child's pid, or -1 (and a test failure).
pid_t spawn_child(const ChildSetup& setup);

// Waits up to the deadline for the child to end and reaps it; its wait status,
// or nothing while it still runs.
std::optional<int> wait_for_child(pid_t child, std::chrono::milliseconds deadline);

// How a wait status reads in a message ("exit status 0", "signal 9").
std::string describe_wait_status(int status);

// The start of a command run with the driver emulation library preloaded,
// playing driver on port and logging its break changes to log when given;
// the program and its arguments follow.
std::vector<std::string> under_driver_emulation(const std::string& library, const std::string& port,
                                                const std::string& driver,
                                                const std::string& log = {});

// Whether the process has a descriptor open on the file at path (a link
// followed), as its /proc/PID/fd shows to root.
bool has_open(pid_t process, const std::string& path);

struct ToolRun {
    // The exit status; -1 when the tool did not start, ended by a signal or ran
    // out of time.
    int status = -1;
    bool timed_out = false;
    // What it wrote to its standard output and to its standard error.
    std::string output;
    std::string errors;
};

// Runs a tool or a program of ours without a shell to its end, its standard
// input from /dev/null, for at most the deadline (then it is killed).
ToolRun run_tool(const std::vector<std::string>& arguments,
                 std::chrono::milliseconds deadline = std::chrono::seconds(30));

// The same on a thread of its own, so the main thread keeps serving the
// toolkit while xdotool acts on a window.
std::future<ToolRun> run_tool_async(std::vector<std::string> arguments);
