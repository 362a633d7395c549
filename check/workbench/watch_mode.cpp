#include "check/workbench/watch_mode.h"

#include "app/core/port_candidates.h"
#include "base/deadline.h"
#include "base/owners.h"
#include "check/common/byte_text.h"
#include "check/port/interruption.h"
#include "check/output/text_printer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fnmatch.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool is_port_name(const char* name) {
    return fnmatch(USB_PORT_PATTERN, name, 0) == 0 || fnmatch(ACM_PORT_PATTERN, name, 0) == 0;
}

struct Tally {
    int tested = 0;
    VerdictCounts verdicts;
    int status = EXIT_SUCCESS_STATUS;
};

class Watch {
  public:
    Watch(const CheckOptions& options, BlockOutput& output, std::vector<AdapterTest>& tests,
          std::string folder)
        : options_(options), output_(output), tests_(tests), folder_(std::move(folder)) {}

    int run() {
        OwnedDescriptor changes(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!changes || inotify_add_watch(changes.get(), folder_.c_str(),
                                          IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO |
                                              IN_MOVED_FROM) < 0) {
            output_.block([&](std::FILE* out) {
                std::fprintf(out, "cannot watch %s for new ports\n", escaped(folder_).c_str());
            });
            return EXIT_NOT_OPENED;
        }
        greet();
        while (!interruption_requested() && !output_closed()) {
            // Standard output is watched too: a reader that goes (the end of
            // "| head -1") ends the watch at once.
            pollfd watch[2] = {{changes.get(), POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
            const WaitEnd end = poll_until(watch, next_due(), interruption_stop_request());
            if (end == WaitEnd::failed) {
                // The ports plugged in from now on would never be tested:
                // the watch is over, and no success.
                const int error = errno;
                print_tally();
                std::fprintf(stderr,
                             "lantoric-check: the watch of %s for new ports failed: %s; start "
                             "it again\n",
                             escaped(folder_).c_str(), std::strerror(error));
                return worse_status(tally_.status, EXIT_NOT_OPENED);
            }
            if (watch[0].revents & POLLIN) {
                take_changes(changes.get());
            }
            test_overdue();
        }
        print_tally();
        return tally_.status;
    }

  private:
    void greet() {
        std::vector<std::string> present =
            port_candidates(folder_, {USB_PORT_PATTERN, ACM_PORT_PATTERN});
        sort_ports(present);
        output_.block([&](std::FILE* out) {
            for (const std::string& path : present) {
                std::fprintf(out, "%s: there when the watch began%s\n", escaped(path).c_str(),
                             options_.all ? "" : "; not tested (--all tests it too)");
            }
            std::fprintf(out,
                         "watching %s for new ttyUSB* and ttyACM* ports; plug an adapter "
                         "in, Ctrl-C ends the watch\n",
                         escaped(folder_).c_str());
        });
        known_.insert(present.begin(), present.end());
        if (options_.all) {
            // The first Ctrl-C ends the watch after the test under way.
            for (auto path = present.begin(); path != present.end() && !interruption_requested();
                 ++path) {
                if (tested_by_all(*path)) {
                    test_port(*path);
                }
            }
        }
    }

    // The kernel's queue of changes overflowed, and some were lost: the
    // folder as it is now tells which ports came and went meanwhile, and a
    // node waiting for udev is looked at again.
    void rescan() {
        const std::vector<std::string> listed =
            port_candidates(folder_, {USB_PORT_PATTERN, ACM_PORT_PATTERN});
        const std::set<std::string> present(listed.begin(), listed.end());
        std::vector<std::string> gone;
        std::set_difference(known_.begin(), known_.end(), present.begin(), present.end(),
                            std::back_inserter(gone));
        for (const std::string& path : gone) {
            changed(path, IN_DELETE);
        }
        for (const std::string& path : present) {
            changed(path, known_.count(path) != 0 ? IN_ATTRIB : IN_CREATE);
        }
    }

    // Until the earliest node waiting for udev is due; forever when none is.
    Deadline next_due() const {
        Clock::time_point due = Clock::time_point::max();
        for (const auto& [path, wait] : waiting_) {
            due = std::min(due, wait.due);
        }
        return Deadline(due);
    }

    void take_changes(int changes) {
        alignas(inotify_event) char buffer[4096];
        bool overflowed = false;
        for (;;) {
            const ssize_t got = read(changes, buffer, sizeof buffer);
            if (got <= 0) {
                if (overflowed) {
                    rescan();
                }
                return;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    overflowed = true;
                    continue;
                }
                if (event->len == 0 || !is_port_name(event->name)) {
                    continue;
                }
                changed(folder_ + "/" + event->name, event->mask);
            }
        }
    }

    void changed(const std::string& path, std::uint32_t mask) {
        if (mask & (IN_DELETE | IN_MOVED_FROM)) {
            known_.erase(path);
            waiting_.erase(path);
            output_.block([&](std::FILE* out) {
                std::fprintf(out, "%s: unplugged\n", escaped(path).c_str());
            });
        } else if (mask & (IN_CREATE | IN_MOVED_TO)) {
            known_.insert(path);
            // A node that opens now needs nothing more; one this user may not
            // open yet waits for udev's attribute changes.
            if (denied(path)) {
                const Clock::time_point now = Clock::now();
                waiting_[path] = {now, now + UDEV_SETUP_WAIT};
            } else {
                test_port(path);
            }
        } else if (mask & IN_ATTRIB) {
            // udev sets the group and the mode one after the other, each a
            // change: one that leaves the node closed to this user waits for
            // the next, until UDEV_SETUP_WAIT has passed since the node came.
            const auto entry = waiting_.find(path);
            if (entry != waiting_.end() && !denied(path)) {
                waiting_.erase(entry);
                test_port(path);
            }
        }
    }

    // Whether --all tests a port there at the start, as it does without the
    // watch: one that opens and, unless forced, no other program has open.
    // The look takes the port's hold for a moment.
    bool tested_by_all(const std::string& path) const {
        if (!check_open(path).opens()) {
            return false;
        }
        return !left_alone(port_holders(path), options_.force);
    }

    // Whether this user may not open the node (yet). The look takes the
    // port's hold for a moment.
    static bool denied(const std::string& path) {
        return check_open(path).failure == OpeningFailure::permission_denied;
    }

    void test_overdue() {
        for (auto entry = waiting_.begin(); entry != waiting_.end();) {
            if (Clock::now() < entry->second.due) {
                ++entry;
                continue;
            }
            const std::string path = entry->first;
            const Clock::duration waited = Clock::now() - entry->second.since;
            entry = waiting_.erase(entry);
            output_.block([&](std::FILE* out) {
                std::fprintf(out,
                             "%s: udev did not set its group and mode in the %.1f s waited; "
                             "tested as it is\n",
                             escaped(path).c_str(), std::chrono::duration<double>(waited).count());
            });
            test_port(path);
        }
    }

    void test_port(const std::string& path) {
        AdapterTest test =
            test_adapter(path, options_.baud_rate, options_.count, options_.force, options_.kline);
        output_.block([&](std::FILE* out) {
            print_test(test, out);
            print_usb(test.identity, out);
        });
        ++tally_.tested;
        tally_.verdicts.add(overall_verdict(test));
        tally_.status = worse_status(tally_.status, test.exit_status);
        // Only the JSON document needs every test; text was printed as it
        // went, so a watch of thousands of adapters keeps its memory flat.
        if (options_.json) {
            tests_.push_back(std::move(test));
        }
    }

    // The failed tests by verdict, in the order of their words.
    void print_tally() {
        auto failed = tally_.verdicts.counted();
        std::erase_if(failed,
                      [](const auto& counted) { return counted.first == Verdict::success; });
        std::sort(failed.begin(), failed.end(), [](const auto& one, const auto& other) {
            return std::strcmp(meaning_of(one.first).word, meaning_of(other.first).word) < 0;
        });
        output_.block([&](std::FILE* out) {
            std::fprintf(out, "watch ended: %d tested, %lld passed", tally_.tested,
                         tally_.verdicts[Verdict::success]);
            for (const auto& [verdict, times] : failed) {
                std::fprintf(out, ", %s: %lld", meaning_of(verdict).word, times);
            }
            std::fprintf(out, "\n");
        });
    }

    const CheckOptions& options_;
    BlockOutput& output_;
    std::vector<AdapterTest>& tests_;
    std::string folder_;
    // New nodes waiting for udev: since when, and until when.
    struct Wait {
        Clock::time_point since;
        Clock::time_point due;
    };
    std::map<std::string, Wait> waiting_;
    // The ports in the folder, as its changes told.
    std::set<std::string> known_;
    Tally tally_;
};

} // namespace

int watch_ports(const CheckOptions& options, BlockOutput& output, std::vector<AdapterTest>& tests,
                const std::string& folder) {
    return Watch(options, output, tests, folder).run();
}
