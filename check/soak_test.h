// The soak test for intermittent cables: the echo test repeated for a given
// time or until it fails, with a live count, while memory stays flat.
#pragma once

#include "check/adapter_test.h"

#include <chrono>
#include <cstdio>
#include <optional>

struct SoakPlan {
    int baud_rate = TEST_BAUD_RATE;
    std::optional<std::chrono::seconds> duration; // none: until the first failure
    bool until_fail = false;
    bool force = false;
    bool kline = false;
};

// Repeats the test of the port as the plan says, until the time is up, the
// first failure (until_fail), or a signal asks it to stop (after the test
// under way). While the port is gone (unplugged, re-enumerating) it waits for
// it without counting tests, and notes when it went and came back. Every few
// seconds it writes a line with the counts so far to progress: redrawn in
// place when live is set (a terminal), a plain line otherwise.
AdapterTest soak_adapter(const std::string& path, const SoakPlan& plan, std::FILE* progress,
                         bool live);
