#include "tests/support/processes.h"

#include "base/owners.h"
#include "tests/support/wait_until.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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
        // As if started from a terminal: a runner that started the tests in
        // the background (SIGINT and SIGQUIT ignored) must not pass that on,
        // since a program keeps a signal it was started with ignored.
        for (int number = 1; number < NSIG; ++number) {
            std::signal(number, SIG_DFL);
        }
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int number : setup.blocked) {
            sigaddset(&blocked, number);
        }
        sigprocmask(SIG_SETMASK, &blocked, nullptr);
        for (int number : setup.ignored) {
            std::signal(number, SIG_IGN);
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

std::vector<std::string> under_driver_emulation(const std::string& library, const std::string& port,
                                                const std::string& driver, const std::string& log) {
    const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
    return {"/usr/bin/env", "LD_PRELOAD=" + library, "LANTORIC_EMULATED_PORT=" + port,
            "LANTORIC_EMULATED_DRIVER=" + driver, "LANTORIC_EMULATED_LOG=" + log,
            // The emulation comes ahead of AddressSanitizer's runtime.
            std::string("ASAN_OPTIONS=") + (sanitizer_options ? sanitizer_options : "") +
                ":verify_asan_link_order=0"};
}

bool has_open(pid_t process, const std::string& path) {
    char target[PATH_MAX];
    if (realpath(path.c_str(), target) == nullptr) {
        return false;
    }
    const std::string descriptors = "/proc/" + std::to_string(process) + "/fd";
    OwnedDirectory listing(opendir(descriptors.c_str()));
    while (const dirent* entry = listing ? readdir(listing.get()) : nullptr) {
        char opened[PATH_MAX] = {};
        const std::string link = descriptors + "/" + entry->d_name;
        if (readlink(link.c_str(), opened, sizeof opened - 1) > 0 &&
            std::strcmp(opened, target) == 0) {
            return true;
        }
    }
    return false;
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
    int output[2];
    int errors[2];
    if (pipe2(output, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    if (pipe2(errors, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        close(output[0]);
        close(output[1]);
        return run;
    }
    pid_t child = spawn_child({arguments, {}, output[1], errors[1]});
    close(output[1]);
    close(errors[1]);
    // Read to the end first: a tool that fills a pipe would never end.
    int ends[2] = {output[0], errors[0]};
    std::string* sinks[2] = {&run.output, &run.errors};
    bool finished = wait_until(
        [&] {
            for (int i = 0; i < 2; ++i) {
                char buffer[4096];
                ssize_t got = 0;
                while (ends[i] >= 0 && (got = read(ends[i], buffer, sizeof buffer)) > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                }
                if (ends[i] >= 0 && (got == 0 || (errno != EAGAIN && errno != EINTR))) {
                    close(ends[i]);
                    ends[i] = -1;
                }
            }
            return ends[0] < 0 && ends[1] < 0;
        },
        deadline);
    for (int end : ends) {
        if (end >= 0) {
            close(end);
        }
    }
    if (child <= 0) {
        return run;
    }
    std::optional<int> status = finished ? wait_for_child(child, deadline) : std::optional<int>();
    if (!status) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        run.timed_out = true;
        return run;
    }
    run.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return run;
}

std::future<ToolRun> run_tool_async(std::vector<std::string> arguments) {
    return std::async(std::launch::async,
                      [arguments = std::move(arguments)] { return run_tool(arguments); });
}
