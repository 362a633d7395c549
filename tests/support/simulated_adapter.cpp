#include "tests/support/simulated_adapter.h"

#include "tests/support/processes.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_until.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef LANTORIC_SIMULATOR_PATH
#error "the tests need the adapter simulator (tools/adapter_simulator.cpp)"
#endif

namespace {

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
std::string read_line(int descriptor) {
    std::string line;
    fcntl(descriptor, F_SETFL, O_NONBLOCK);
    wait_until(
        [&] {
            char byte = 0;
            ssize_t got = 0;
            while ((got = read(descriptor, &byte, 1)) == 1 && byte != '\n') {
                line.push_back(byte);
            }
            return got == 0 || (got == 1 && byte == '\n') || (got < 0 && errno != EAGAIN);
        },
        start_deadline);
    return line;
}

} // namespace

SimulatedAdapter::SimulatedAdapter(std::string link, std::vector<std::string> options)
    : link_(std::move(link)) {
    start(std::move(options));
}

SimulatedAdapter::SimulatedAdapter(const SimulatedCar& car)
    : link_(car.link), breaks_fifo_(car.folder + "/breaks"), ecu_log_(car.folder + "/ecu.log") {
    std::vector<std::string> options{"--ecu=" + car.protocol, "--breaks-from=" + breaks_fifo_,
                                     "--ecu-log=" + ecu_log_};
    options.insert(options.end(), car.options.begin(), car.options.end());
    start(std::move(options));
}

std::string SimulatedAdapter::ecu_log_text() const {
    return file_text(ecu_log_);
}

std::vector<std::string> SimulatedAdapter::under_emulation(const std::string& library,
                                                           const std::string& driver) const {
    return under_driver_emulation(library, link_, driver, breaks_fifo_);
}

void SimulatedAdapter::start(std::vector<std::string> options) {
    std::vector<std::string> arguments{LANTORIC_SIMULATOR_PATH};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(link_);
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe for the simulator: " << std::strerror(errno);
        return;
    }
    // SIGTERM when the test's thread ends: the simulator then removes its link.
    pid_ = spawn_child({arguments, {}, pipe_ends[1], -1, SIGTERM});
    close(pipe_ends[1]);
    output_ = pipe_ends[0];
    if (pid_ < 0) {
        return;
    }
    std::string line = read_line(output_);
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
    if (!exited_ && pid_ > 0) {
        if (std::optional<int> status = wait_for_child(pid_, deadline)) {
            exited_ = true;
            exit_status_ = decode_status(*status);
        }
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
