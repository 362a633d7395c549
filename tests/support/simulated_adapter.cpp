#include "tests/support/simulated_adapter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef LANTORIC_SIMULATOR_PATH
#error "the tests need the adapter simulator (tools/adapter_simulator.cpp)"
#endif

namespace {

std::atomic<int> link_counter{0};

constexpr auto start_deadline = std::chrono::seconds(5);
constexpr auto stop_deadline = std::chrono::seconds(5);

int decode_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reads the child's first output line, or less when the deadline passes or the
// child closes its output first.
std::string read_line(int descriptor, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return line;
        }
        pollfd watch{descriptor, POLLIN, 0};
        int ready = poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return line;
        }
        char byte = 0;
        ssize_t got = read(descriptor, &byte, 1);
        if (got <= 0 || byte == '\n') {
            return line;
        }
        line.push_back(byte);
    }
}

} // namespace

std::string unique_device_link() {
    return unique_device_link("/dev");
}

std::string unique_device_link(const std::string& folder) {
    return folder + "/ttyUSBlt" + std::to_string(getpid()) + "x" +
           std::to_string(link_counter.fetch_add(1));
}

SimulatedAdapter::SimulatedAdapter(std::string link, std::vector<std::string> options)
    : link_(std::move(link)) {
    std::vector<std::string> arguments{LANTORIC_SIMULATOR_PATH};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(link_);
    // Built before fork: the child of a threaded process may only make
    // async-signal-safe calls until exec.
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe for the simulator: " << std::strerror(errno);
        return;
    }
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A test process that dies without running destructors (a crash, a
        // timeout) still stops its simulator, which then removes its link.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(pipe_ends[1], STDOUT_FILENO);
        // The test's own descriptors (ports, pty masters) stay out of the
        // simulator, so a port a test closes is really closed.
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    output_ = pipe_ends[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork for the simulator: " << std::strerror(errno);
        return;
    }
    std::string line = read_line(output_, std::chrono::steady_clock::now() + start_deadline);
    std::string expected = "adapter_simulator: ready at " + link_ + " (slave ";
    if (line.size() <= expected.size() || line.compare(0, expected.size(), expected) != 0 ||
        line.back() != ')') {
        ADD_FAILURE() << "the simulator did not report ready at " << link_ << ": \"" << line
                      << "\"";
        return;
    }
    slave_ = line.substr(expected.size(), line.size() - expected.size() - 1);
    ready_ = true;
}

bool SimulatedAdapter::wait_for_exit(std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    while (!exited_ && pid_ > 0) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            exited_ = true;
            exit_status_ = done == pid_ ? decode_status(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= until) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exited_;
}

SimulatedAdapter::~SimulatedAdapter() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        if (!wait_for_exit(std::chrono::duration_cast<std::chrono::milliseconds>(stop_deadline))) {
            ADD_FAILURE() << "the simulator at " << link_ << " ignored SIGTERM";
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (output_ >= 0) {
        close(output_);
    }
    // Only a link into /dev/pts is ours to remove: never a real node.
    struct stat status {};
    if (lstat(link_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char target[256] = {};
        ssize_t length = readlink(link_.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == slave_) {
            ADD_FAILURE() << "the simulator left its link " << link_ << " behind";
            unlink(link_.c_str());
        }
    }
}
