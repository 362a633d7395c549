#include "tests/support/wait_until.h"

#include <thread>

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline,
                std::chrono::milliseconds interval) {
    auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return done();
        }
        std::this_thread::sleep_for(interval);
    }
}
