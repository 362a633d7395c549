#include "base/thread_area.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace {

struct AreaRoutines {
    std::size_t offset;
    thread_area_routine init;
    thread_area_routine destroy;
};

// Process-lifetime state: written only during start-up registrations, read by
// every thread afterwards. Never destroyed, so a thread ending after exit()
// began still finds it.
struct AreaRegistry {
    pthread_key_t key{};
    std::once_flag key_made;
    std::size_t total = 0;
    std::vector<AreaRoutines> routines; // newest registration first
};

AreaRegistry& registry() {
    static auto* areas = new AreaRegistry;
    return *areas;
}

void destroy_block(void* block) {
    for (const AreaRoutines& area : registry().routines) {
        if (area.destroy != nullptr) {
            area.destroy(static_cast<char*>(block) + area.offset);
        }
    }
    std::free(block);
}

void* make_block() {
    AreaRegistry& areas = registry();
    void* block = std::calloc(1, areas.total == 0 ? 1 : areas.total);
    pthread_setspecific(areas.key, block);
    for (const AreaRoutines& area : areas.routines) {
        if (area.init != nullptr) {
            area.init(static_cast<char*>(block) + area.offset);
        }
    }
    return block;
}

} // namespace

std::size_t thread_area_register(std::size_t size, thread_area_routine init,
                                 thread_area_routine destroy) {
    AreaRegistry& areas = registry();
    // Areas hold pointers: every offset stays pointer-aligned.
    size = (size + alignof(void*) - 1) / alignof(void*) * alignof(void*);
    std::call_once(areas.key_made, [&] { pthread_key_create(&areas.key, destroy_block); });
    std::size_t offset = areas.total;
    areas.total += size;
    auto* block = static_cast<char*>(pthread_getspecific(areas.key));
    block = static_cast<char*>(std::realloc(block, areas.total == 0 ? 1 : areas.total));
    std::memset(block + offset, 0, size);
    pthread_setspecific(areas.key, block);
    if (init != nullptr || destroy != nullptr) {
        areas.routines.insert(areas.routines.begin(), AreaRoutines{offset, init, destroy});
        if (init != nullptr) {
            init(block + offset);
        }
    }
    return offset;
}

void* thread_area_get(std::size_t offset) {
    AreaRegistry& areas = registry();
    std::call_once(areas.key_made, [&] { pthread_key_create(&areas.key, destroy_block); });
    void* block = pthread_getspecific(areas.key);
    if (block == nullptr) {
        block = make_block();
    }
    return static_cast<char*>(block) + offset;
}
