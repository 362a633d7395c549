#include "base/thread_area.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

std::string init_order;
int destroyed = 0;

void init_first(void* area) {
    init_order += "first ";
    *static_cast<int*>(area) = 11;
}

void init_second(void* area) {
    init_order += "second ";
    *static_cast<void**>(area) = &init_order;
}

void destroy_second(void* area) {
    if (*static_cast<void**>(area) == &init_order) {
        ++destroyed;
    }
}

TEST(ThreadArea, NewThreadsGetPreparedAlignedAreasAndLoseThemAtTheEnd) {
    std::size_t odd = thread_area_register(9, nullptr, nullptr);
    std::size_t first = thread_area_register(sizeof(int), init_first, nullptr);
    std::size_t second = thread_area_register(sizeof(void*), init_second, destroy_second);
    for (std::size_t offset : {odd, first, second}) {
        EXPECT_EQ(offset % alignof(void*), 0u) << offset;
    }
    EXPECT_GE(first - odd, 9u);
    // Registration prepares the calling thread's area at once.
    EXPECT_EQ(*thread_area_get_as<int>(first), 11);
    *thread_area_get_as<int>(first) = 99;

    init_order.clear();
    int seen_in_worker = 0;
    void* worker_pointer = nullptr;
    std::thread worker([&] {
        seen_in_worker = *thread_area_get_as<int>(first);
        worker_pointer = *thread_area_get_as<void*>(second);
        auto address = reinterpret_cast<std::uintptr_t>(thread_area_get(second));
        EXPECT_EQ(address % alignof(void*), 0u);
    });
    worker.join();
    EXPECT_EQ(seen_in_worker, 11) << "a new thread starts from the init routine, not from ours";
    EXPECT_EQ(worker_pointer, &init_order);
    EXPECT_EQ(init_order, "second first ") << "areas are prepared newest registration first";
    EXPECT_EQ(destroyed, 1) << "the thread's block is destroyed when it ends";
    EXPECT_EQ(*thread_area_get_as<int>(first), 99);
}

} // namespace
