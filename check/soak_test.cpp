#include "check/soak_test.h"

#include "check/byte_text.h"
#include "check/interruption.h"
#include "check/text_printer.h"
#include "check/time_text.h"
#include "check/block_output.h"

#include <climits>
#include <cstdlib>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

// How often the counts are shown: on a terminal the line is redrawn in place,
// elsewhere each is a line of its own, so a log does not fill up.
constexpr std::chrono::seconds LIVE_EVERY{2};
constexpr std::chrono::seconds LOGGED_EVERY{10};
// While the port is gone, how often it is looked for again.
constexpr std::chrono::milliseconds ABSENT_RETRY{200};

// Another program has the port: it is waited for, not tested.
bool port_is_held(const TestRun& run) {
    return run.outcome == RunOutcome::not_opened && run.open.failure == OpeningFailure::busy;
}

// While another program holds the port, it is looked for among the
// processes, which touches the port not at all, and opened only when no
// holder is seen any more (a user who cannot see other users' processes
// tries the open itself, at the same pace).
void wait_while_held(const std::string& path, std::optional<SteadyClock::time_point> end) {
    do {
        std::this_thread::sleep_for(ABSENT_RETRY);
    } while (!interruption_requested() && (!end || SteadyClock::now() < *end) &&
             !port_holders(path).processes.empty());
}

bool port_is_gone(const TestRun& run) {
    return run.outcome == RunOutcome::port_gone ||
           (run.outcome == RunOutcome::not_opened &&
            (run.open.failure == OpeningFailure::gone || run.open.failure == OpeningFailure::missing));
}

std::string node_behind(const std::string& path) {
    char node[PATH_MAX];
    return realpath(path.c_str(), node) != nullptr ? std::string(node) : path;
}

void show_counts(const AdapterTest& test, SteadyClock::duration ran, std::FILE* out, bool live) {
    std::fprintf(out, "%s  soak: %d tests, %d successes%s; %s%s", live ? "\r\033[K" : "",
                 test.run_count, test.outcomes[static_cast<int>(RunOutcome::success)],
                 failed_run_counts(test).c_str(), elapsed_text(ran).c_str(), live ? "" : "\n");
    std::fflush(out);
}

} // namespace

AdapterTest soak_adapter(const std::string& path, const SoakPlan& plan, std::FILE* progress,
                         bool live) {
    AdapterTest test;
    test.path = path;
    test.baud_rate = plan.baud_rate;
    SoakFacts& soak = test.soak.emplace();
    soak.started = WallClock::now();
    soak.planned = plan.duration;
    soak.until_fail = plan.until_fail;
    if (!prepare_test(test, plan.force)) {
        return test;
    }
    const SteadyClock::time_point start = SteadyClock::now();
    SteadyClock::time_point shown = start;
    int streak = 0;
    bool absent = false;
    bool absence_kept = false;
    for (int number = 1;; ++number) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (interruption_requested()) {
            soak.interrupted = true;
            break;
        }
        // Nobody sees the rest of a run whose output cannot be written; the
        // port is closed between tests, so it is given back as it ends.
        if ((plan.duration && now - start >= *plan.duration) || output_closed()) {
            break;
        }
        if (progress != nullptr && now - shown >= (live ? LIVE_EVERY : LOGGED_EVERY)) {
            show_counts(test, now - start, progress, live);
            shown = now;
        }
        TestRun run = run_test_once(test, number, plan.force);
        if (port_is_held(run)) {
            // Neither a test nor a failure: the other program's time.
            --number;
            const SteadyClock::time_point since = SteadyClock::now();
            ++soak.times_held;
            wait_while_held(path, plan.duration ? std::optional(start + *plan.duration)
                                                : std::nullopt);
            soak.held_for += SteadyClock::now() - since;
            continue;
        }
        if (absent && port_is_gone(run)) {
            // Still away: neither a test nor a failure, only a wait.
            --number;
            std::this_thread::sleep_for(ABSENT_RETRY);
            continue;
        }
        if (absent && absence_kept) {
            soak.absences.back().back = WallClock::now();
            soak.absences.back().back_as = node_behind(path);
        }
        absent = false;
        test.run_count = number;
        if (run.outcome == RunOutcome::success) {
            soak.longest_success_run = std::max(soak.longest_success_run, ++streak);
        } else {
            streak = 0;
            soak.last_failure = WallClock::now();
            if (!soak.first_failure) {
                soak.first_failure = soak.last_failure;
            }
        }
        if (port_is_gone(run)) {
            absent = true;
            absence_kept = soak.absences.size() < KEPT_ABSENCES;
            if (absence_kept) {
                soak.absences.push_back({WallClock::now(), std::nullopt, {}});
            } else {
                ++soak.absences_left_out;
            }
        }
        const bool failed = run.outcome != RunOutcome::success;
        keep_run(test, std::move(run));
        if ((plan.until_fail && failed) || test.rate_refused()) {
            break;
        }
    }
    soak.ran = SteadyClock::now() - start;
    if (progress != nullptr && live) {
        show_counts(test, soak.ran, progress, live);
        std::fputs("\n", progress);
    }
    finish_test(test, plan.force, plan.kline);
    // A stop asked for during the K-line checks cut them short too.
    soak.interrupted = soak.interrupted || interruption_requested();
    return test;
}
