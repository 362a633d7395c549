#include "tests/e2e/program_run.h"

#include "tests/support/processes.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto POLL_INTERVAL = 10ms;

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool is_fault_line(const std::string& line) {
    static const char* const markers[] = {"ERROR: AddressSanitizer",
                                          "ERROR: LeakSanitizer",
                                          "runtime error:",
                                          "SUMMARY: AddressSanitizer",
                                          "SUMMARY: UndefinedBehaviorSanitizer",
                                          "-CRITICAL **",
                                          "-WARNING **",
                                          "ERROR: ThreadSanitizer"};
    for (const char* marker : markers) {
        if (line.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

ProgramRun::ProgramRun() {
    char pattern[] = "/tmp/lantoric-e2e.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    folder_ = pattern;
    snapshot_path_ = folder_ + "/snapshot";
    output_path_ = folder_ + "/stdout";
    error_path_ = folder_ + "/stderr";
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0 && !reaped_) {
        // The program runs in a process group of its own.
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool ProgramRun::start() {
    if (folder_.empty() || pid_ > 0) {
        ADD_FAILURE() << "the run cannot start";
        return false;
    }
    // Opened here and closed when the child has its copies.
    const int output = open(output_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int error = open(error_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // The program dies with the test program, however that ends, and runs in a
    // process group of its own, which the clean-up kills whole.
    ChildSetup setup{{LANTORIC_PROGRAM},
                     {std::string("GTK_MODULES=") + LANTORIC_SNAPSHOT_MODULE,
                      "WINDOW_SNAPSHOT_FILE=" + snapshot_path_},
                     output,
                     error,
                     SIGKILL,
                     true};
    pid_ = output < 0 || error < 0 ? -1 : spawn_child(setup);
    for (int descriptor : {output, error}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
    return pid_ > 0;
}

WindowSnapshot ProgramRun::snapshot() const {
    return read_window_snapshot(snapshot_path_).value_or(WindowSnapshot{});
}

std::optional<WindowSnapshot>
ProgramRun::wait_for(const std::string& what,
                     const std::function<bool(const WindowSnapshot&)>& condition,
                     std::chrono::milliseconds timeout) {
    WindowSnapshot last;
    bool ended = false;
    const bool met = wait_until(
        [&] {
            if (auto current = read_window_snapshot(snapshot_path_)) {
                last = std::move(*current);
                if (condition(last)) {
                    return true;
                }
            }
            return ended = !running();
        },
        timeout, POLL_INTERVAL);
    if (met && !ended) {
        return last;
    }
    if (ended) {
        ADD_FAILURE() << "the program ended (" << describe_wait_status(wait_status_)
                      << ") while waiting for " << what;
    } else {
        ADD_FAILURE() << "gave up after " << timeout.count() << " ms waiting for " << what;
    }
    ADD_FAILURE() << describe(last) << "error output:\n" << error_output();
    return std::nullopt;
}

std::optional<WindowSnapshot> ProgramRun::fresh_snapshot(std::chrono::milliseconds timeout) {
    // The tick read now may belong to a walk that began before this call.
    const unsigned long seen = snapshot().tick;
    return wait_for(
        "a fresh snapshot", [seen](const WindowSnapshot& s) { return s.tick >= seen + 2; },
        timeout);
}

std::optional<int> ProgramRun::wait_for_exit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0 || !wait_until([this] { return !running(); }, timeout)) {
        return std::nullopt;
    }
    return wait_status_;
}

bool ProgramRun::running() {
    if (pid_ <= 0 || reaped_) {
        return false;
    }
    int status = 0;
    const pid_t result = waitpid(pid_, &status, WNOHANG);
    if (result == pid_) {
        reaped_ = true;
        wait_status_ = status;
        return false;
    }
    return true;
}

bool ProgramRun::holds_open(const std::string& path) const {
    if (pid_ <= 0 || reaped_) {
        return false;
    }
    const std::string descriptors = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* directory = opendir(descriptors.c_str());
    if (directory == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(directory)) {
        char target[4096];
        const std::string link = descriptors + "/" + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target);
        // A terminal that went away reads as "<path> (deleted)".
        const std::string held(target, length > 0 ? static_cast<size_t>(length) : 0);
        if (held == path || held == path + " (deleted)") {
            found = true;
            break;
        }
    }
    closedir(directory);
    return found;
}

std::string ProgramRun::error_output() const {
    return error_path_.empty() ? std::string() : read_file(error_path_);
}

std::string ProgramRun::standard_output() const {
    return output_path_.empty() ? std::string() : read_file(output_path_);
}

std::string ProgramRun::fault_reports() const {
    std::istringstream lines(error_output());
    std::string line;
    std::string faults;
    while (std::getline(lines, line)) {
        if (is_fault_line(line)) {
            faults += line + '\n';
        }
    }
    return faults;
}
