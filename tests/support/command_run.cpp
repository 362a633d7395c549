#include "tests/support/command_run.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

CommandResult run_command(const std::vector<std::string>& arguments,
                          std::chrono::milliseconds deadline) {
    CommandResult result;
    int output[2];
    int errors[2];
    if (arguments.empty() || pipe2(output, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(errors, O_CLOEXEC) != 0) {
        close(output[0]);
        close(output[1]);
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(output[1], 1);
        dup2(errors[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(output[1]);
    close(errors[1]);
    const auto until = std::chrono::steady_clock::now() + deadline;
    pollfd watch[2] = {{output[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errors};
    int open_pipes = pid > 0 ? 2 : 0;
    while (open_pipes > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(watch, 2, static_cast<int>(left)) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (watch[i].fd >= 0 && watch[i].revents != 0) {
                char buffer[4096];
                ssize_t got = read(watch[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    watch[i].fd = -1;
                    --open_pipes;
                }
            }
        }
    }
    close(output[0]);
    close(errors[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !result.timed_out) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}
