#include "sys/delay.h"
#include "sys/thread.h"

#include "base/text_storage.h"
#include "tests/support/wait_until.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

class ThreadTest : public testing::Test {
  protected:
    void SetUp() override { thread_system_init(); }
    void TearDown() override {
        // A worker left running would outlive the objects this test shares with it.
        EXPECT_TRUE(wait_until([] { return thread_running_count() == 0; }));
    }
};

struct Observation {
    std::atomic<bool> done{false};
    std::atomic<std::intptr_t> parameter{0};
    pthread_t self{};
    int detach_state = -1;
    std::size_t stack_size = 0;
};
Observation observed;

void observe(std::intptr_t parameter) {
    observed.self = pthread_self();
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getdetachstate(&attributes, &observed.detach_state);
        pthread_attr_getstacksize(&attributes, &observed.stack_size);
        pthread_attr_destroy(&attributes);
    }
    observed.parameter = parameter;
    observed.done = true;
}

TEST_F(ThreadTest, ProcedureGetsExactlyTheParameterOnTheDetachedThreadWhoseIdIsReturned) {
    for (std::intptr_t parameter : {std::intptr_t{0}, std::intptr_t{-1}, INTPTR_MIN, INTPTR_MAX,
                                    static_cast<std::intptr_t>(0x5a5aa5a5c3c33c3cLL)}) {
        observed.done = false;
        pthread_t id = thread_create(observe, parameter);
        ASSERT_NE(id, pthread_t{0});
        ASSERT_TRUE(wait_until([] { return observed.done.load(); }));
        EXPECT_EQ(observed.parameter.load(), parameter);
        EXPECT_TRUE(pthread_equal(observed.self, id));
        EXPECT_FALSE(pthread_equal(observed.self, pthread_self()));
        EXPECT_EQ(observed.detach_state, PTHREAD_CREATE_DETACHED);
        EXPECT_EQ(observed.stack_size, 1048576u);
    }
}

std::atomic<bool> worker_may_return{false};
std::atomic<int> procedures_started{0};

void wait_for_permission(std::intptr_t) {
    ++procedures_started;
    while (!worker_may_return) {
        std::this_thread::sleep_for(1ms);
    }
}

TEST_F(ThreadTest, RecordLivesWhileTheProcedureRunsAndGoesWhenItReturns) {
    worker_may_return = false;
    procedures_started = 0;
    ASSERT_NE(thread_create(wait_for_permission, 0), pthread_t{0});
    ASSERT_NE(thread_create(wait_for_permission, 0), pthread_t{0});
    ASSERT_TRUE(wait_until([] { return procedures_started == 2; }));
    EXPECT_EQ(thread_running_count(), 2);
    worker_may_return = true;
    EXPECT_TRUE(wait_until([] { return thread_running_count() == 0; }));
}

std::atomic<int> quick_returns{0};

void return_at_once(std::intptr_t) {
    ++quick_returns;
}

TEST_F(ThreadTest, ProceduresReturningAtOnceLeaveNoRecord) {
    quick_returns = 0;
    for (int i = 0; i < 32; ++i) {
        ASSERT_NE(thread_create(return_at_once, i), pthread_t{0});
    }
    EXPECT_TRUE(wait_until([] { return quick_returns == 32 && thread_running_count() == 0; }))
        << quick_returns << " ran, " << thread_running_count() << " records left";
}

TEST_F(ThreadTest, NoProcedureStartsNoThread) {
    EXPECT_EQ(thread_create(nullptr, 0), pthread_t{0});
    EXPECT_EQ(thread_running_count(), 0);
}

std::atomic<bool> gated_started{false};

void note_start(std::intptr_t) {
    gated_started = true;
}

TEST_F(ThreadTest, ProcedureWaitsUntilTheThreadListLockIsFree) {
    gated_started = false;
    {
        std::scoped_lock hold(thread_list_lock());
        ASSERT_NE(thread_create(note_start, 0), pthread_t{0});
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(gated_started) << "the procedure ran while thread_list_lock was held";
    }
    EXPECT_TRUE(wait_until([] { return gated_started.load(); }));
}

TEST_F(ThreadTest, CreationWaitsForTheThreadListLock) {
    std::atomic<bool> holding{false};
    std::atomic<bool> releasing{false};
    std::thread holder([&] {
        std::scoped_lock hold(thread_list_lock());
        holding = true;
        std::this_thread::sleep_for(300ms);
        releasing = true;
    });
    ASSERT_TRUE(wait_until([&] { return holding.load(); }));
    pthread_t id = thread_create(return_at_once, 0);
    EXPECT_TRUE(releasing) << "thread_create went ahead while another thread held the lock";
    EXPECT_NE(id, pthread_t{0});
    holder.join();
}

struct TextSeen {
    std::atomic<bool> done{false};
    const char* text = nullptr;
    std::string copy;
};
TextSeen worker_text;

void make_text_result(std::intptr_t) {
    worker_text.text = text_result("a worker's text, longer than the first sixteen bytes");
    worker_text.copy = worker_text.text;
    worker_text.done = true;
}

TEST_F(ThreadTest, EachWorkerHasItsOwnTextStorage) {
    const char* mine = text_result("main thread");
    ASSERT_NE(thread_create(make_text_result, 0), pthread_t{0});
    ASSERT_TRUE(wait_until([] { return worker_text.done.load(); }));
    EXPECT_EQ(worker_text.copy, "a worker's text, longer than the first sixteen bytes");
    EXPECT_NE(worker_text.text, mine);
    EXPECT_STREQ(mine, "main thread");
}

struct PauseProbe {
    std::atomic<bool> started{false};
    std::atomic<bool> delay_returned{false};
    std::atomic<bool> may_end{false};
};
PauseProbe pause_probe;

void sleep_long(std::intptr_t) {
    pause_probe.started = true;
    delay_ms(60000);
    pause_probe.delay_returned = true;
    while (!pause_probe.may_end) {
        std::this_thread::sleep_for(1ms);
    }
}

// Without the pause handler SIGUSR1 would end the process; with a pause counter
// of 0 the handler returns at once, and the interrupted delay is not resumed.
TEST_F(ThreadTest, SignalToAWorkerWithPauseCounterZeroReturnsAndTheWorkerCarriesOn) {
    pthread_t id = thread_create(sleep_long, 0);
    ASSERT_NE(id, pthread_t{0});
    // The handler is in place once the procedure runs.
    ASSERT_TRUE(wait_until([] { return pause_probe.started.load(); }));
    // The signal may land before the worker has entered its delay; send again
    // until the delay has been cut short.
    EXPECT_TRUE(wait_until(
        [&] { return pause_probe.delay_returned || pthread_kill(id, SIGUSR1) != 0; }, 20s, 50ms));
    EXPECT_TRUE(pause_probe.delay_returned);
    struct sigaction action {};
    sigaction(SIGUSR1, nullptr, &action);
    EXPECT_NE(action.sa_handler, SIG_DFL);
    pause_probe.may_end = true;
}

} // namespace
