#include "tests/support/processes.h"

#include "tests/support/wait_until.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The variable's name with its "=".
std::string name_of(const std::string& variable) {
    return variable.substr(0, variable.find('=') + 1);
}

} // namespace

pid_t spawn_child(const ChildSetup& setup) {
    // Everything the child needs is made before the fork: the child of a
    // threaded process may only make async-signal-safe calls until exec.
    std::vector<std::string> arguments = setup.arguments;
    std::vector<std::string> environment = setup.environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const std::string& own : setup.environment) {
            replaced = replaced || name_of(own) == name_of(*entry);
        }
        if (!replaced) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    for (auto& variable : environment) {
        envp.push_back(variable.data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int output = setup.output >= 0 ? setup.output : nothing;
    const int error = setup.error >= 0 ? setup.error : nothing;
    const pid_t parent = getpid();
    const pid_t child = nothing < 0 || argv.size() < 2 ? -1 : fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, setup.death_signal);
        if (getppid() != parent) {
            _exit(127);
        }
        if (setup.own_group) {
            setpgid(0, 0);
        }
        dup2(nothing, STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        dup2(error, STDERR_FILENO);
        close_range(3, ~0U, 0);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    const int fork_error = errno;
    if (nothing >= 0) {
        close(nothing);
    }
    if (child < 0) {
        ADD_FAILURE() << "cannot start " << (arguments.empty() ? "nothing" : arguments[0]) << ": "
                      << std::strerror(fork_error);
        return -1;
    }
    if (setup.own_group) {
        // Also here, so that a kill of the group right after the fork reaches it.
        setpgid(child, child);
    }
    return child;
}

std::optional<int> wait_for_child(pid_t child, std::chrono::milliseconds deadline) {
    int status = 0;
    bool ended = wait_until(
        [&] {
            pid_t done = waitpid(child, &status, WNOHANG);
            if (done < 0 && errno != EINTR) {
                status = -1; // not a child of ours, or reaped already
                return true;
            }
            return done == child;
        },
        deadline);
    return ended ? std::optional<int>(status) : std::nullopt;
}

std::string describe_wait_status(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "wait status " + std::to_string(status);
}

ToolRun run_tool(const std::vector<std::string>& arguments, std::chrono::milliseconds deadline) {
    ToolRun run;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    ChildSetup setup{arguments, {}, ends[1], ends[1]};
    pid_t child = spawn_child(setup);
    close(ends[1]);
    // Read to the end first: a tool that fills the pipe would never end.
    auto until = std::chrono::steady_clock::now() + deadline;
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    char buffer[4096];
    bool open = child > 0;
    while (open) {
        ssize_t got = read(ends[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            open = false;
        } else if (std::chrono::steady_clock::now() > until) {
            break;
        } else {
            usleep(2000);
        }
    }
    close(ends[0]);
    if (child <= 0) {
        return run;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    std::optional<int> status = wait_for_child(child, std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        run.output += "\n(killed after " + std::to_string(deadline.count()) + " ms)";
        return run;
    }
    run.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return run;
}

std::future<ToolRun> run_tool_async(std::vector<std::string> arguments) {
    return std::async(std::launch::async,
                      [arguments = std::move(arguments)] { return run_tool(arguments); });
}
