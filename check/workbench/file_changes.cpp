#include "check/workbench/file_changes.h"

#include "base/deadline.h"
#include "check/port/interruption.h"
#include "check/port/node_path.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// When poll itself fails, how long each step of the wait sleeps.
constexpr std::chrono::milliseconds FALLBACK_STEP{200};

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

FileChanges::FileChanges(const std::vector<std::string>& paths)
    : changes_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (!changes_) {
        return;
    }
    for (const std::string& path : paths) {
        // The same folder twice gives the same watch.
        const int watch = inotify_add_watch(changes_.get(), folder_of(path).c_str(),
                                            IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO |
                                                IN_MOVED_FROM | IN_CLOSE_WRITE);
        if (watch >= 0) {
            entries_.emplace_back(watch, base_name(path));
        }
    }
}

bool FileChanges::take_changes() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(changes_.get(), buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // The name is padded with zeros to its length.
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            changed = changed || (event->mask & IN_Q_OVERFLOW) != 0 ||
                      std::find(entries_.begin(), entries_.end(), std::pair(event->wd, name)) !=
                          entries_.end();
        }
    }
    return changed;
}

void FileChanges::wait_until(Clock::time_point until) {
    const Deadline deadline(until);
    for (;;) {
        pollfd watch{changes_.get(), POLLIN, 0};
        const WaitEnd end = poll_until({&watch, 1}, deadline, interruption_stop_request());
        if (end == WaitEnd::failed) {
            // Nothing to wait in: the time is slept through in steps instead.
            changes_.reset();
            std::this_thread::sleep_for(std::min<Clock::duration>(deadline.left(), FALLBACK_STEP));
            continue;
        }
        if (end != WaitEnd::ready || ((watch.revents & POLLIN) != 0 && take_changes())) {
            return;
        }
    }
}
