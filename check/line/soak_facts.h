// What a soak test (--duration, --until-fail) finds beyond the counts of an
// adapter test: when it failed, how long it went without, and when the port
// went away, came back or was held by another program.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A moment of a soak: the wall clock, to say when, and the time since the
// soak began, from the monotonic clock (a wall clock set meanwhile changes
// the first, never the second).
struct SoakMoment {
    std::chrono::system_clock::time_point clock;
    std::chrono::steady_clock::duration after{};
};

// A port that went away (or closed to this user) during a soak test, and when
// and as what it came back. However long the gap, it counts as one run.
struct Absence {
    SoakMoment went;
    std::optional<SoakMoment> back;
    std::string back_as; // the node behind the path when it came back
    // The node stayed, but would not open to this user (its mode or group
    // changed, as in a replug before udev has set them).
    bool closed_to_user = false;
};

// What a soak test (--duration, --until-fail) adds to the counts.
struct SoakFacts {
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::duration ran{};
    std::optional<std::chrono::seconds> planned;
    bool until_fail = false;
    // A stop asked for ended the soak before its time (before its first
    // failure, with --until-fail alone).
    bool interrupted = false;
    std::optional<SoakMoment> first_failure;
    std::optional<SoakMoment> last_failure;
    long long longest_success_run = 0;
    // The first absences, at most KEPT_ABSENCES, and how many more there were.
    std::vector<Absence> absences;
    long long absences_left_out = 0;
    // How often another program held the port (a hold that lasts is one, a
    // held UUCP lock file counts too), and how long it was waited for in all.
    long long times_held = 0;
    std::chrono::steady_clock::duration held_for{};
};
inline constexpr std::size_t KEPT_ABSENCES = 20;
