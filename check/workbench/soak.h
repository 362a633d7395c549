// The soak test for intermittent cables: the echo test repeated for a given
// time or until it fails, with a live count, while memory stays flat.
#pragma once

#include "check/line/adapter_testing.h"

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
// under way). A gap counts once however long it lasts: while the port is
// away (unplugged, re-enumerating) or closed to this user, the run that found
// it so is counted and the node is waited for, with when it went, came back
// and how long it was gone; while another program holds it (its open or
// lock, a UUCP lock file of a live process) it is waited for and each hold
// counted once. Waits sleep in poll, woken by a stop request. Every few
// seconds it writes a line with the counts so far to progress: redrawn in
// place when live is set (a terminal), a plain line otherwise.
AdapterTest soak_adapter(const std::string& path, const SoakPlan& plan, std::FILE* progress,
                         bool live);
