// What a soak test (--duration, --until-fail) finds beyond the counts of an
// adapter test: when it failed, how long it went without, and when the port
// went away, came back or was held by another program.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A port that went away during a soak test, and when and as what it came back.
struct Absence {
    std::chrono::system_clock::time_point went;
    std::optional<std::chrono::system_clock::time_point> back;
    std::string back_as; // the node behind the path when it came back
};

// What a soak test (--duration, --until-fail) adds to the counts.
struct SoakFacts {
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::duration ran{};
    std::optional<std::chrono::seconds> planned;
    bool until_fail = false;
    bool interrupted = false;
    std::optional<std::chrono::system_clock::time_point> first_failure;
    std::optional<std::chrono::system_clock::time_point> last_failure;
    int longest_success_run = 0;
    // The first absences, at most KEPT_ABSENCES, and how many more there were.
    std::vector<Absence> absences;
    int absences_left_out = 0;
    // How often another program held the port, and how long it was waited
    // for in all.
    int times_held = 0;
    std::chrono::steady_clock::duration held_for{};
};
inline constexpr std::size_t KEPT_ABSENCES = 20;
