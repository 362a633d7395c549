#include "check/workbench/soak.h"

#include "check/output/block_output.h"
#include "check/common/byte_text.h"
#include "check/workbench/file_changes.h"
#include "check/port/interruption.h"
#include "check/port/node_path.h"
#include "check/output/text_printer.h"
#include "check/common/time_text.h"

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace {

using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

// How often the counts are shown: on a terminal the line is redrawn in place,
// elsewhere each is a line of its own, so a log does not fill up.
constexpr std::chrono::seconds LIVE_EVERY{2};
constexpr std::chrono::seconds LOGGED_EVERY{10};
// While another program holds the port, how often its holders and lock are
// looked at again: no change of a process's open files can be waited for.
constexpr std::chrono::milliseconds HELD_RECHECK{200};
// While the port is away, how often it is looked at again besides when its
// entries change: a folder this user cannot watch, a device that answers
// again without a change of its node.
constexpr std::chrono::seconds AWAY_RECHECK{1};

// Another program has the port: it is waited for, not tested.
bool port_is_held(const TestRun& run) {
    return run.outcome == Verdict::not_opened && run.open.failure == OpeningFailure::busy;
}

// The port is not there for this user: unplugged, re-enumerating, or a new
// node that udev has not yet opened to the user.
bool port_is_away(OpeningFailure failure) {
    return failure == OpeningFailure::gone || failure == OpeningFailure::missing ||
           failure == OpeningFailure::permission_denied;
}

bool port_is_away(const TestRun& run) {
    return run.outcome == Verdict::port_gone ||
           (run.outcome == Verdict::not_opened && port_is_away(run.open.failure));
}

// A UUCP lock file of a live process: another program uses the port, whether
// or not this user can see it.
bool port_is_locked(const std::string& path) {
    for (const std::string& lock_file : uucp_lock_files(path)) {
        if (uucp_lock_owner(lock_file) != 0) {
            return true;
        }
    }
    return false;
}

// A lock file that names no live process but changed a moment ago is being
// written: a program that takes its lock again writes it in place, empty or
// half-written for a moment, and its hold goes on meanwhile.
constexpr std::time_t LOCK_BEING_WRITTEN_SECONDS = 3;

bool lock_being_written(const std::string& path) {
    for (const std::string& lock_file : uucp_lock_files(path)) {
        struct stat status {};
        if (lstat(lock_file.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            std::abs(std::time(nullptr) - status.st_mtime) < LOCK_BEING_WRITTEN_SECONDS) {
            return true;
        }
    }
    return false;
}

void show_counts(const AdapterTest& test, SteadyClock::duration ran, std::FILE* out, bool live) {
    std::fprintf(out, "%s  soak: %lld tests, %lld successes%s; %s%s", live ? "\r\033[K" : "",
                 test.run_count, test.outcomes[Verdict::success], failed_run_counts(test).c_str(),
                 elapsed_text(ran).c_str(), live ? "" : "\n");
    std::fflush(out);
}

// One soak's state between its runs. A gap in the testing (the port held by
// another program, away, or closed to this user) is one episode however long
// it lasts, and is waited out in poll, woken by the stop request.
class Soak {
  public:
    Soak(AdapterTest& test, const SoakPlan& plan)
        : test_(test), plan_(plan), soak_(*test.soak), start_(SteadyClock::now()),
          end_(plan.duration ? start_ + *plan.duration : SteadyClock::time_point::max()) {}

    // Whether the soak ends before another run: its time up, nobody to see
    // its output (the port is closed between runs, so it is given back as
    // the soak ends), or a stop asked for, which cut it short.
    bool over() {
        if (SteadyClock::now() >= end_ || output_closed()) {
            return true;
        }
        soak_.interrupted = interruption_requested();
        return soak_.interrupted;
    }

    // Before a run: while the port is away or another program holds it, one
    // step of the wait for it; false when a run may go ahead. A hold lasts
    // while a lock file is being written again.
    bool waiting() {
        if (away_ && still_away()) {
            away_changes_->wait_until(std::min(SteadyClock::now() + AWAY_RECHECK, end_));
            return true;
        }
        if (port_is_locked(test_.path) ||
            (held_since_ && (lock_being_written(test_.path) ||
                             (!plan_.force && !port_holders(test_.path).processes.empty())))) {
            wait_while_held();
            return true;
        }
        return false;
    }

    // After a run: whether it belongs to a gap rather than the counts. A
    // held port is waited for; a port away is looked for before the next run.
    bool in_gap(const TestRun& run) {
        if (port_is_held(run)) {
            wait_while_held();
            return true;
        }
        return away_ && port_is_away(run);
    }

    // Counts a run: the streak of successes, when it failed, and when the
    // port went away and came back.
    void count(const TestRun& run) {
        end_hold();
        if (away_ && absence_kept_) {
            soak_.absences.back().back = now();
            soak_.absences.back().back_as = node_behind(test_.path).value_or(test_.path);
        }
        away_ = false;
        away_changes_.reset();
        if (run.outcome == Verdict::success) {
            soak_.longest_success_run = std::max(soak_.longest_success_run, ++streak_);
        } else {
            streak_ = 0;
            soak_.last_failure = now();
            if (!soak_.first_failure) {
                soak_.first_failure = soak_.last_failure;
            }
        }
        if (port_is_away(run)) {
            begin_absence(run);
        }
    }

    // Ends the soak's counts: a hold still going on counts to the end.
    void end() {
        end_hold();
        soak_.ran = ran();
    }

    SteadyClock::duration ran() const { return SteadyClock::now() - start_; }

  private:
    SoakMoment now() const { return {WallClock::now(), ran()}; }

    void begin_absence(const TestRun& run) {
        away_ = true;
        // The port's entry, and the node its link led to: a replug makes
        // the first again, udev's group and mode change the second.
        std::vector<std::string> entries = {test_.path};
        if (std::optional<std::string> node = node_behind(test_.path)) {
            entries.push_back(*node);
        }
        away_changes_.emplace(entries);
        absence_kept_ = soak_.absences.size() < KEPT_ABSENCES;
        if (!absence_kept_) {
            ++soak_.absences_left_out;
            return;
        }
        Absence& absence = soak_.absences.emplace_back();
        absence.went = now();
        absence.closed_to_user = run.outcome == Verdict::not_opened &&
                                 run.open.failure == OpeningFailure::permission_denied;
    }

    // The look takes the port's hold for a moment, and only when its node
    // has changed or a while has passed.
    bool still_away() const {
        return port_is_away(check_open(test_.path).failure);
    }

    // One step of a hold: the holders are looked for among the processes and
    // the lock files, which touches the port not at all (a user who cannot
    // see other users' processes tries the open itself, at the same pace).
    void wait_while_held() {
        if (!held_since_) {
            held_since_ = SteadyClock::now();
            ++soak_.times_held;
            held_changes_.emplace(uucp_lock_files(test_.path));
        }
        held_changes_->wait_until(std::min(SteadyClock::now() + HELD_RECHECK, end_));
    }

    void end_hold() {
        if (held_since_) {
            soak_.held_for += SteadyClock::now() - *held_since_;
            held_since_.reset();
            held_changes_.reset();
        }
    }

    AdapterTest& test_;
    const SoakPlan& plan_;
    SoakFacts& soak_;
    const SteadyClock::time_point start_;
    const SteadyClock::time_point end_;
    long long streak_ = 0;
    bool away_ = false;
    bool absence_kept_ = false;
    std::optional<FileChanges> away_changes_;
    std::optional<SteadyClock::time_point> held_since_;
    std::optional<FileChanges> held_changes_;
};

} // namespace

AdapterTest soak_adapter(const std::string& path, const SoakPlan& plan, std::FILE* progress,
                         bool live) {
    AdapterTest test;
    test.path = path;
    test.baud_rate = plan.baud_rate;
    SoakFacts& facts = test.soak.emplace();
    facts.started = WallClock::now();
    facts.planned = plan.duration;
    facts.until_fail = plan.until_fail;
    if (!prepare_test(test, plan.force)) {
        return test;
    }
    Soak soak(test, plan);
    SteadyClock::duration shown{};
    for (long long number = 1; !soak.over();) {
        if (progress != nullptr && soak.ran() - shown >= (live ? LIVE_EVERY : LOGGED_EVERY)) {
            shown = soak.ran();
            show_counts(test, shown, progress, live);
        }
        if (soak.waiting()) {
            continue;
        }
        TestRun run = run_test_once(test, number, plan.force);
        if (soak.in_gap(run)) {
            continue;
        }
        soak.count(run);
        test.run_count = number++;
        const bool failed = run.outcome != Verdict::success;
        keep_run(test, std::move(run));
        if ((plan.until_fail && failed) || test.rate_refused()) {
            break;
        }
    }
    soak.end();
    if (progress != nullptr && live) {
        show_counts(test, facts.ran, progress, live);
        std::fputs("\n", progress);
    }
    // A stop asked for during the K-line checks cuts them short, said there:
    // the soak itself ran its time.
    finish_test(test, plan.force, plan.kline);
    return test;
}
