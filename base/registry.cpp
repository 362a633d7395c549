#include "base/registry.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <vector>

namespace {

// Automatic numbers count down from -2 across all tables: negative numbers are
// never slot indexes and -1 is OBJECT_ANY. They fit the 32-bit object fields of
// events for the first two thousand million objects.
std::atomic<object_number> next_automatic_number{-2};

} // namespace

struct ObjectTable {
    std::size_t record_size;
    int growth_step;
    release_operation release;
    std::vector<void*> slots;
    // Keyed by number in descending order, which is oldest first.
    std::map<object_number, void*, std::greater<>> automatic;
    std::recursive_mutex lock;
};

namespace {

bool is_slot(const ObjectTable* table, object_number number) {
    return number >= 0 && static_cast<std::size_t>(number) < table->slots.size();
}

bool is_live(const ObjectTable* table, const void* record) {
    if (record == nullptr) {
        return false;
    }
    // The first field is pointer-sized or an int descriptor: test every byte of
    // the smaller of the two so both layouts work.
    const auto* bytes = static_cast<const unsigned char*>(record);
    std::size_t width = table->record_size < sizeof(void*) ? table->record_size : sizeof(void*);
    for (std::size_t i = 0; i < width; ++i) {
        if (bytes[i] != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

ObjectTable* registry_create(std::size_t record_size, int growth_step, release_operation release) {
    if (growth_step < 1) {
        growth_step = 1;
    }
    auto* table = new ObjectTable{record_size, growth_step, release, {}, {}, {}};
    table->slots.assign(static_cast<std::size_t>(growth_step), nullptr);
    return table;
}

void registry_create_once(ObjectTable** table, std::size_t record_size, int growth_step,
                          release_operation release) {
    static std::recursive_mutex* creation_lock = new std::recursive_mutex;
    std::scoped_lock hold(*creation_lock);
    if (*table == nullptr) {
        *table = registry_create(record_size, growth_step, release);
    }
}

void* registry_allocate(ObjectTable* table, object_number number) {
    std::scoped_lock hold(table->lock);
    // Callers are C-style kinds that test for none; no exception may reach them.
    if (number == OBJECT_ANY) {
        void* record = std::calloc(1, table->record_size);
        if (record == nullptr) {
            return nullptr;
        }
        try {
            table->automatic.emplace(next_automatic_number.fetch_sub(1), record);
        } catch (const std::bad_alloc&) {
            std::free(record);
            return nullptr;
        }
        return record;
    }
    if (number < 0 || number > REGISTRY_MAX_EXPLICIT_NUMBER) {
        return nullptr;
    }
    auto index = static_cast<std::size_t>(number);
    if (index >= table->slots.size()) {
        try {
            table->slots.resize(index + static_cast<std::size_t>(table->growth_step), nullptr);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    if (table->slots[index] == nullptr) {
        table->slots[index] = std::calloc(1, table->record_size);
        return table->slots[index];
    }
    if (table->release != nullptr) {
        table->release(number);
        // A release operation that found the object absent leaves the record as
        // it was; the caller always gets a cleared record.
        std::memset(table->slots[index], 0, table->record_size);
    }
    return table->slots[index];
}

object_number registry_number_of(ObjectTable* table, const void* record) {
    std::scoped_lock hold(table->lock);
    for (std::size_t i = 0; i < table->slots.size(); ++i) {
        if (table->slots[i] == record) {
            return static_cast<object_number>(i);
        }
    }
    for (const auto& [number, automatic] : table->automatic) {
        if (automatic == record) {
            return number;
        }
    }
    return -1;
}

void* registry_lookup(ObjectTable* table, object_number number) {
    std::scoped_lock hold(table->lock);
    void* record = nullptr;
    if (is_slot(table, number)) {
        record = table->slots[static_cast<std::size_t>(number)];
    } else if (auto found = table->automatic.find(number); found != table->automatic.end()) {
        record = found->second;
    }
    return is_live(table, record) ? record : nullptr;
}

void registry_release(ObjectTable* table, object_number number) {
    std::scoped_lock hold(table->lock);
    if (is_slot(table, number)) {
        void* record = table->slots[static_cast<std::size_t>(number)];
        if (record != nullptr) {
            std::memset(record, 0, table->record_size);
        }
        return;
    }
    if (auto found = table->automatic.find(number); found != table->automatic.end()) {
        std::free(found->second);
        table->automatic.erase(found);
    }
}

void registry_for_each(ObjectTable* table, const std::function<bool(object_number, void*)>& visit) {
    std::scoped_lock hold(table->lock);
    for (std::size_t index = 0; index < table->slots.size(); ++index) {
        void* record = table->slots[index];
        if (is_live(table, record) && !visit(static_cast<object_number>(index), record)) {
            return;
        }
    }
    // Found by key, not by a kept iterator, so the visit may free the record
    // it was given.
    for (auto next = table->automatic.begin(); next != table->automatic.end();) {
        object_number number = next->first;
        if (is_live(table, next->second) && !visit(number, next->second)) {
            return;
        }
        next = table->automatic.upper_bound(number);
    }
}

void registry_release_all(ObjectTable* table) {
    if (table->release == nullptr) {
        return;
    }
    registry_for_each(table, [table](object_number number, void*) {
        table->release(number);
        return true;
    });
}

std::unique_lock<std::recursive_mutex> registry_hold(ObjectTable* table) {
    return std::unique_lock<std::recursive_mutex>(table->lock);
}

std::size_t registry_capacity(ObjectTable* table) {
    std::scoped_lock hold(table->lock);
    return table->slots.size();
}
