#include "check/soak_test.h"

#include "check/block_output.h"
#include "check/byte_text.h"
#include "check/interruption.h"
#include "check/node_path.h"
#include "check/text_printer.h"
#include "check/time_text.h"

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
           (run.outcome == RunOutcome::not_opened && (run.open.failure == OpeningFailure::gone ||
                                                      run.open.failure == OpeningFailure::missing));
}

void show_counts(const AdapterTest& test, SteadyClock::duration ran, std::FILE* out, bool live) {
    std::fprintf(out, "%s  soak: %d tests, %d successes%s; %s%s", live ? "\r\033[K" : "",
                 test.run_count, test.outcomes[static_cast<int>(RunOutcome::success)],
                 failed_run_counts(test).c_str(), elapsed_text(ran).c_str(), live ? "" : "\n");
    std::fflush(out);
}

} // namespace

namespace {

// One soak's state between its runs.
class Soak {
  public:
    Soak(AdapterTest& test, const SoakPlan& plan)
        : test_(test), plan_(plan), soak_(*test.soak), start_(SteadyClock::now()) {}

    // Whether the soak ends before another run: a stop asked for, its time
    // up, or nobody to see its output (the port is closed between runs, so
    // it is given back as the soak ends).
    bool over() {
        if (interruption_requested()) {
            soak_.interrupted = true;
            return true;
        }
        return (plan_.duration && ran() >= *plan_.duration) || output_closed();
    }

    // A run that found the port held by another program, or still away, is
    // neither a test nor a failure: the soak waits, and says whether it did.
    bool waited_for(const TestRun& run) {
        if (port_is_held(run)) {
            const SteadyClock::time_point since = SteadyClock::now();
            ++soak_.times_held;
            wait_while_held(test_.path, plan_.duration ? std::optional(start_ + *plan_.duration)
                                                       : std::nullopt);
            soak_.held_for += SteadyClock::now() - since;
            return true;
        }
        if (absent_ && port_is_gone(run)) {
            std::this_thread::sleep_for(ABSENT_RETRY);
            return true;
        }
        return false;
    }

    // Counts a run: the streak of successes, when it failed, and when the
    // port went away and came back.
    void count(const TestRun& run) {
        if (absent_ && absence_kept_) {
            soak_.absences.back().back = WallClock::now();
            soak_.absences.back().back_as = node_behind(test_.path).value_or(test_.path);
        }
        absent_ = false;
        if (run.outcome == RunOutcome::success) {
            soak_.longest_success_run = std::max(soak_.longest_success_run, ++streak_);
        } else {
            streak_ = 0;
            soak_.last_failure = WallClock::now();
            if (!soak_.first_failure) {
                soak_.first_failure = soak_.last_failure;
            }
        }
        if (port_is_gone(run)) {
            absent_ = true;
            absence_kept_ = soak_.absences.size() < KEPT_ABSENCES;
            if (absence_kept_) {
                soak_.absences.push_back({WallClock::now(), std::nullopt, {}});
            } else {
                ++soak_.absences_left_out;
            }
        }
    }

    SteadyClock::duration ran() const { return SteadyClock::now() - start_; }

  private:
    AdapterTest& test_;
    const SoakPlan& plan_;
    SoakFacts& soak_;
    const SteadyClock::time_point start_;
    int streak_ = 0;
    bool absent_ = false;
    bool absence_kept_ = false;
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
    for (int number = 1; !soak.over();) {
        if (progress != nullptr && soak.ran() - shown >= (live ? LIVE_EVERY : LOGGED_EVERY)) {
            shown = soak.ran();
            show_counts(test, shown, progress, live);
        }
        TestRun run = run_test_once(test, number, plan.force);
        if (soak.waited_for(run)) {
            continue;
        }
        soak.count(run);
        test.run_count = number++;
        const bool failed = run.outcome != RunOutcome::success;
        keep_run(test, std::move(run));
        if ((plan.until_fail && failed) || test.rate_refused()) {
            break;
        }
    }
    facts.ran = soak.ran();
    if (progress != nullptr && live) {
        show_counts(test, facts.ran, progress, live);
        std::fputs("\n", progress);
    }
    finish_test(test, plan.force, plan.kline);
    // A stop asked for during the K-line checks cut them short too.
    facts.interrupted = facts.interrupted || interruption_requested();
    return test;
}
