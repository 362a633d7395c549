#include "sys/thread.h"

#include "base/text_storage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <list>
#include <new>
#include <unistd.h>

namespace {

constexpr std::size_t worker_stack_size = 1048576;

struct ThreadRecord {
    pthread_t id{};
    thread_procedure procedure = nullptr;
    std::intptr_t parameter = 0;
    // The paused thread reads it in a loop while another thread changes it.
    std::atomic<int> pause_counter{0};
};

// Process-lifetime: a worker may still run while the process ends.
std::list<ThreadRecord>& thread_list() {
    static auto* list = new std::list<ThreadRecord>;
    return *list;
}

void remove_record_locked(const ThreadRecord* record) {
    auto& list = thread_list();
    auto found = std::find_if(list.begin(), list.end(),
                              [record](const ThreadRecord& entry) { return &entry == record; });
    if (found != list.end()) {
        list.erase(found);
    }
}

void pause_handler(int) {
    // sleep may change errno under the interrupted code's feet.
    int saved_errno = errno;
    ThreadRecord* own = nullptr;
    {
        std::scoped_lock hold(thread_list_lock());
        for (ThreadRecord& record : thread_list()) {
            if (pthread_equal(record.id, pthread_self())) {
                own = &record;
                break;
            }
        }
    }
    // The record cannot go away meanwhile: only this thread removes it, after
    // its procedure has returned.
    while (own != nullptr && own->pause_counter.load() > 0) {
        sleep(1);
    }
    errno = saved_errno;
}

void* thread_entry(void* argument) {
    auto* record = static_cast<ThreadRecord*>(argument);
    {
        // thread_create holds the lock until the record is complete.
        std::scoped_lock gate(thread_list_lock());
    }
    std::signal(SIGUSR1, pause_handler);
    OwnedTextStorage storage = text_storage_create();
    record->procedure(record->parameter);
    // The storage goes before the record: once no record is left, shutdown may
    // delete the storage key, which this thread must no longer touch then.
    storage.reset();
    {
        std::scoped_lock hold(thread_list_lock());
        remove_record_locked(record);
    }
    return nullptr;
}

} // namespace

std::recursive_mutex& thread_list_lock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

void thread_system_init() {
    thread_list_lock();
    thread_list();
}

pthread_t thread_create(thread_procedure procedure, std::intptr_t parameter) {
    if (procedure == nullptr) {
        return 0;
    }
    std::scoped_lock hold(thread_list_lock());
    auto& list = thread_list();
    std::list<ThreadRecord>::iterator record;
    try {
        record = list.emplace(list.begin());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    record->procedure = procedure;
    record->parameter = parameter;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, worker_stack_size);
    pthread_t id{};
    int failure = pthread_create(&id, &attributes, thread_entry, &*record);
    pthread_attr_destroy(&attributes);
    // The result, not the id variable, tells: the id is unspecified on failure.
    if (failure != 0) {
        list.erase(record);
        return 0;
    }
    record->id = id;
    return id;
}

int thread_running_count() {
    std::scoped_lock hold(thread_list_lock());
    return static_cast<int>(thread_list().size());
}

void thread_system_finish() {
    std::scoped_lock hold(thread_list_lock());
}
