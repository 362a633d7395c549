#include "sys/delay.h"

#include "tests/support/wait_until.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Clock::duration time_of_delay(std::int32_t milliseconds) {
    auto start = Clock::now();
    delay_ms(milliseconds);
    return Clock::now() - start;
}

// A wrong split of the milliseconds into seconds and nanoseconds either sleeps
// too short or makes nanosleep refuse the time and return at once.
TEST(DelayTest, SleepsAtLeastTheTimeAskedFor) {
    EXPECT_GE(time_of_delay(1500), 1500ms);
    EXPECT_GE(time_of_delay(1000), 1000ms);
    EXPECT_GE(time_of_delay(999), 999ms);
    EXPECT_GE(time_of_delay(10), 10ms);
    EXPECT_GE(time_of_delay(1), 1ms);
}

// Zero and negative delays must come back; read as unsigned, -1 would be weeks.
TEST(DelayTest, ZeroAndNegativeDelaysReturn) {
    for (std::int32_t milliseconds : {0, -1, -1500, INT32_MIN}) {
        auto returned = std::make_shared<std::atomic<bool>>(false);
        std::thread([milliseconds, returned] {
            delay_ms(milliseconds);
            *returned = true;
        }).detach();
        EXPECT_TRUE(wait_until([&] { return returned->load(); }))
            << "delay_ms(" << milliseconds << ") did not return";
    }
}

} // namespace
