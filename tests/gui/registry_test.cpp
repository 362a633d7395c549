#include "base/registry.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct Record {
    void* handle;
    int payload;
};

ObjectTable* released_table = nullptr;
std::vector<object_number> released;

void record_release(object_number number) {
    auto* record = static_cast<Record*>(registry_lookup(released_table, number));
    if (record == nullptr) {
        return;
    }
    released.push_back(number);
    registry_release(released_table, number);
}

class RegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        released.clear();
        table = registry_create(sizeof(Record), 16, record_release);
        released_table = table;
    }
    Record* make(object_number number) {
        auto* record = static_cast<Record*>(registry_allocate(table, number));
        record->handle = record;
        return record;
    }
    ObjectTable* table = nullptr;
};

TEST_F(RegistryTest, SlotArrayGrowsInStepsBeyondTheHighestNumber) {
    EXPECT_EQ(registry_capacity(table), 16u);
    make(0);
    make(15);
    EXPECT_EQ(registry_capacity(table), 16u);
    make(16);
    EXPECT_EQ(registry_capacity(table), 32u);
    for (object_number n : {1, 14, 17, 31}) {
        EXPECT_EQ(registry_lookup(table, n), nullptr) << n;
    }
    make(100);
    EXPECT_EQ(registry_capacity(table), 116u);
}

// A large explicit number would reserve a pointer for every slot below it
// (10^8 took 766 MiB; 2^40 threw std::bad_alloc through the C-style call).
TEST_F(RegistryTest, ExplicitNumbersAboveTheBoundAreRefusedWithoutGrowing) {
    for (object_number number :
         {REGISTRY_MAX_EXPLICIT_NUMBER + 1, object_number{100000000}, object_number{1} << 40}) {
        EXPECT_EQ(registry_allocate(table, number), nullptr) << number;
    }
    EXPECT_EQ(registry_capacity(table), 16u);
    ASSERT_NE(make(REGISTRY_MAX_EXPLICIT_NUMBER), nullptr);
    EXPECT_EQ(registry_capacity(table), std::size_t{REGISTRY_MAX_EXPLICIT_NUMBER + 16});
}

TEST_F(RegistryTest, ReusingAnExplicitNumberReleasesTheOldObjectAndClearsTheRecord) {
    Record* first = make(3);
    first->payload = 42;
    auto* second = static_cast<Record*>(registry_allocate(table, 3));
    EXPECT_EQ(released, std::vector<object_number>{3});
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->handle, nullptr);
    EXPECT_EQ(second->payload, 0);
}

TEST_F(RegistryTest, ReleasedExplicitRecordIsAbsentAndReusedZeroFilled) {
    Record* record = make(5);
    record->payload = 7;
    registry_release(table, 5);
    EXPECT_EQ(registry_lookup(table, 5), nullptr);
    auto* again = static_cast<Record*>(registry_allocate(table, 5));
    EXPECT_EQ(again, record);
    EXPECT_EQ(again->payload, 0);
}

TEST_F(RegistryTest, RecordWithZeroFirstFieldIsAbsentAndSkipped) {
    make(1);
    registry_allocate(table, 2); // memory in the slot, first field still zero
    std::vector<object_number> visited;
    registry_for_each(table, [&visited](object_number number, void*) {
        visited.push_back(number);
        return true;
    });
    EXPECT_EQ(visited, std::vector<object_number>{1});
    EXPECT_EQ(registry_lookup(table, 2), nullptr);
}

TEST_F(RegistryTest, AutomaticNumbersAreOpaqueUniqueAndNeverReused) {
    std::vector<object_number> numbers;
    for (int i = 0; i < 50; ++i) {
        auto* record = static_cast<Record*>(registry_allocate(table, OBJECT_ANY));
        ASSERT_NE(record, nullptr);
        record->handle = record;
        object_number number = registry_number_of(table, record);
        EXPECT_NE(number, -1);
        EXPECT_LT(number, 0) << "an automatic number must lie outside every slot range";
        EXPECT_EQ(registry_lookup(table, number), record);
        numbers.push_back(number);
        registry_release(table, number);
        EXPECT_EQ(registry_lookup(table, number), nullptr);
    }
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
}

TEST_F(RegistryTest, ForgedAndStaleNumbersYieldNone) {
    Record* record = make(OBJECT_ANY);
    object_number number = registry_number_of(table, record);
    registry_release(table, number);
    EXPECT_EQ(registry_lookup(table, number), nullptr);
    EXPECT_EQ(registry_lookup(table, reinterpret_cast<object_number>(&released)), nullptr);
    EXPECT_EQ(registry_lookup(table, -1), nullptr);
    EXPECT_EQ(registry_lookup(table, -123456789), nullptr);
    EXPECT_EQ(registry_lookup(table, 1 << 30), nullptr);
}

TEST_F(RegistryTest, ReleaseAllVisitsExplicitAscendingThenAutomaticOldestFirst) {
    Record* older = make(OBJECT_ANY);
    make(9);
    Record* newer = make(OBJECT_ANY);
    make(2);
    object_number older_number = registry_number_of(table, older);
    object_number newer_number = registry_number_of(table, newer);
    registry_release_all(table);
    EXPECT_EQ(released, (std::vector<object_number>{2, 9, older_number, newer_number}));
    EXPECT_EQ(registry_lookup(table, 2), nullptr);
    EXPECT_EQ(registry_lookup(table, older_number), nullptr);
}

TEST_F(RegistryTest, ReleaseAllWithoutReleaseOperationDoesNothing) {
    static ObjectTable* plain = registry_create(sizeof(Record), 16, nullptr);
    auto* record = static_cast<Record*>(registry_allocate(plain, 4));
    record->handle = record;
    registry_release_all(plain);
    EXPECT_EQ(registry_lookup(plain, 4), record);
}

TEST_F(RegistryTest, WalkHoldsTheTableAgainstOtherThreadsAndStoppingEndsTheHold) {
    make(0);
    make(1);
    std::atomic<bool> other_done = false;
    std::thread other;
    int visits = 0;
    registry_for_each(table, [&](object_number, void*) {
        if (++visits == 1) {
            other = std::thread([&] {
                make(2);
                other_done = true;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_FALSE(other_done) << "another thread changed the table during a walk";
        }
        return false;
    });
    other.join();
    EXPECT_EQ(visits, 1);
    EXPECT_TRUE(other_done);
}

TEST_F(RegistryTest, CreateOnceMakesTheTableOnlyOnce) {
    static ObjectTable* lazy = nullptr; // tables live for the whole process
    registry_create_once(&lazy, sizeof(Record), 16, nullptr);
    ObjectTable* first = lazy;
    registry_create_once(&lazy, sizeof(Record), 16, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(lazy, first);
}

} // namespace
