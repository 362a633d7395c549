// Fuzz target for the object registry against a simple model: a map from
// number to the record handed out for it.
//
// Each input is a series of operations on one table (allocate an explicit or
// an automatic number, look up, release, iterate, release all). After each
// step the table must agree with the model: a record is handed out
// zero-filled, a live number finds its own record with what was written into
// it, a released or never-given number finds none, automatic numbers are below
// -1 and never given twice, an explicit number in use is released once before
// it is given again, and iterating or releasing everything visits explicit
// numbers ascending, then automatic ones oldest first. An explicit number far
// beyond any slot array may be refused with none, but never costs the memory
// of a slot array that large nor throws.
#include "base/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

// Explicit numbers below this one must be accepted; from it up a refusal is allowed.
constexpr object_number smallest_refusable = 1 << 16;

struct Record {
    std::uint64_t tag; // first field: non-zero while live
    std::uint64_t check;
};

ObjectTable* table = nullptr;
std::vector<object_number> released; // numbers the release operation was called for

// Model: number -> record for every live object. Explicit numbers sort first
// ascending; automatic ones are negative and the oldest has the largest number.
struct ModelOrder {
    bool operator()(object_number a, object_number b) const {
        if ((a >= 0) != (b >= 0)) {
            return a >= 0;
        }
        return a >= 0 ? a < b : a > b;
    }
};
std::map<object_number, Record*, ModelOrder> live;
object_number last_automatic = -1; // each new automatic number lies below the last
std::uint64_t next_tag = 1;

[[noreturn]] void fail(const char* what, object_number number) {
    std::fprintf(stderr, "%s (number %lld)\n", what, static_cast<long long>(number));
    std::abort();
}

void release_object(object_number number) {
    released.push_back(number);
    if (registry_lookup(table, number) != nullptr) {
        registry_release(table, number);
    }
}

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t wide() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool zero_filled(const void* record) {
    static const Record zero{};
    return std::memcmp(record, &zero, sizeof zero) == 0;
}

void write_live(Record* record, object_number number) {
    record->tag = next_tag++;
    record->check = static_cast<std::uint64_t>(number) ^ record->tag;
    live[number] = record;
}

void allocate_explicit(object_number number) {
    bool in_use = live.count(number) != 0;
    released.clear();
    auto* record = static_cast<Record*>(registry_allocate(table, number));
    if (record == nullptr) {
        if (number < smallest_refusable) {
            fail("an explicit number within the slot range is refused", number);
        }
        return;
    }
    if (!zero_filled(record)) {
        fail("a record is handed out with old contents", number);
    }
    // A free slot may be offered to the release operation too, which then does nothing.
    bool released_once = released.size() == 1 && released[0] == number;
    if (in_use ? !released_once : !(released.empty() || released_once)) {
        fail("an explicit number in use is not released exactly once before reuse", number);
    }
    write_live(record, number);
}

void allocate_automatic() {
    released.clear();
    auto* record = static_cast<Record*>(registry_allocate(table, OBJECT_ANY));
    if (record == nullptr) {
        fail("an automatic record is refused", OBJECT_ANY);
    }
    if (!zero_filled(record) || !released.empty()) {
        fail("an automatic record is not new", OBJECT_ANY);
    }
    object_number number = registry_number_of(table, record);
    if (number >= last_automatic) {
        fail("an automatic number is -1, an explicit number or given before", number);
    }
    last_automatic = number;
    write_live(record, number);
}

void check_lookup(object_number number) {
    void* found = registry_lookup(table, number);
    auto expected = live.find(number);
    if (expected == live.end()) {
        if (found != nullptr) {
            fail("a number that names no live object finds a record", number);
        }
        return;
    }
    auto* record = static_cast<Record*>(found);
    if (record != expected->second ||
        record->check != (static_cast<std::uint64_t>(number) ^ record->tag)) {
        fail("a live number does not find its own record", number);
    }
    if (registry_number_of(table, record) != number) {
        fail("a live record does not give back its number", number);
    }
}

void release(object_number number) {
    registry_release(table, number);
    live.erase(number);
    check_lookup(number);
}

void release_everything() {
    released.clear();
    registry_release_all(table);
    std::vector<object_number> expected;
    for (const auto& [number, record] : live) {
        expected.push_back(number);
    }
    if (released != expected) {
        fail("release all does not visit every live object in order", 0);
    }
    for (object_number number : expected) {
        live.erase(number);
        check_lookup(number);
    }
}

// Walks the table, releasing the objects the input picks as they are visited.
void iterate(Reader& input) {
    std::uint8_t release_mask = input.byte();
    std::vector<object_number> seen;
    registry_for_each(table, [&](object_number number, void* record) {
        if (live.count(number) == 0 || live[number] != record) {
            fail("iteration yields a record the model does not have", number);
        }
        seen.push_back(number);
        if (release_mask & (1u << (seen.size() % 8))) {
            registry_release(table, number);
        }
        return true;
    });
    std::vector<object_number> expected;
    for (const auto& [live_number, record] : live) {
        expected.push_back(live_number);
    }
    if (seen != expected) {
        fail("iteration does not yield every live object in order", 0);
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (release_mask & (1u << ((i + 1) % 8))) {
            live.erase(seen[i]);
            check_lookup(seen[i]);
        }
    }
}

// A number worth asking about: a live one, a small one, or one far beyond any
// slot array (from 10^8, which would take 800 MB of slots, up), positive or not.
object_number pick_number(Reader& input) {
    std::uint8_t how = input.byte();
    if (how < 128 && !live.empty()) {
        auto at = live.begin();
        std::advance(at, input.byte() % live.size());
        return at->first;
    }
    if (how < 224) {
        return static_cast<object_number>(input.byte() % 40);
    }
    constexpr std::uint64_t far = 100'000'000;
    auto number = static_cast<object_number>(far + input.wide() % (INTPTR_MAX - far));
    return how % 2 == 0 ? number : -number;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    registry_create_once(&table, sizeof(Record), 4, release_object);
    // The table lives for the process; each input starts from an empty one.
    release_everything();

    Reader input(data, size);
    for (int steps = 0; steps < 256 && !input.empty(); ++steps) {
        switch (input.byte() % 6) {
        case 0: {
            object_number number = pick_number(input);
            if (number >= 0) {
                allocate_explicit(number);
            } else {
                check_lookup(number);
            }
            break;
        }
        case 1:
            allocate_automatic();
            break;
        case 2:
            check_lookup(pick_number(input));
            break;
        case 3:
            release(pick_number(input));
            break;
        case 4:
            iterate(input);
            break;
        default:
            if (input.byte() % 8 == 0) {
                release_everything();
            }
            break;
        }
    }
    return 0;
}
