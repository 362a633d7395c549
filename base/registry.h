// Object registry: one table per kind of numbered object (windows, gadgets,
// fonts, status bars, images, serial ports, directory listings).
//
// An explicit number (0 or greater) indexes the kind's slot array. OBJECT_ANY
// asks for an automatic number: an opaque handle below -1, drawn from one
// process-wide counter, so it is never -1, never inside any slot range and
// never handed out twice in the life of the process. Looking up a stale,
// forged or released automatic number yields none and touches no freed memory.
//
// Records are zero-filled memory of the kind's record size; their first field is
// the object's primary handle and a record whose first field is zero is absent.
// Every operation takes the table's own recursive lock. That lock is not a leaf:
// the kind's release operation runs under it, from registry_release_all and when
// registry_allocate replaces an explicit number in use. Gadgets and status bars
// destroy widgets there, so their "destroy" handlers come back to the same table
// (the lock is recursive) and may push an event (the event queue's mutex).
// Callers take gui_lock before a table's lock, never while holding one.
// Tables live for the whole process and are never destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

using object_number = std::intptr_t;

inline constexpr object_number OBJECT_ANY = -1;

// The highest explicit number a table takes. The slot array grows to the
// number asked for, one pointer per slot, so a larger number is refused
// instead of reserving memory for every slot below it (half a MiB at most).
inline constexpr object_number REGISTRY_MAX_EXPLICIT_NUMBER = 65535;

// A kind's release operation: frees the live object with that number and ends
// with registry_release; does nothing for a number that names no live object.
using release_operation = void (*)(object_number number);

struct ObjectTable;

// A new table with capacity = growth_step empty slots. Any thread.
ObjectTable* registry_create(std::size_t record_size, int growth_step, release_operation release);

// Creates *table under a process-wide lock unless it is already set. Any thread.
void registry_create_once(ObjectTable** table, std::size_t record_size, int growth_step,
                          release_operation release);

// The record for the number, zero-filled when new. An explicit number in use
// is first released through the kind's release operation. Returns none, and
// never throws, when memory cannot be had, for an explicit number above
// REGISTRY_MAX_EXPLICIT_NUMBER, or for a negative number other than OBJECT_ANY.
void* registry_allocate(ObjectTable* table, object_number number);

// The number a record of this table was allocated under (the automatic handle
// for OBJECT_ANY records); -1 for a record the table does not hold.
object_number registry_number_of(ObjectTable* table, const void* record);

// The live record with that number, or none. The lock is dropped before return:
// a caller that must keep the record from being released meanwhile holds the
// table with registry_hold.
void* registry_lookup(ObjectTable* table, object_number number);

// Gives the record up: an explicit slot is cleared to zero and kept for reuse,
// an automatic record is freed and its number is never valid again.
void registry_release(ObjectTable* table, object_number number);

// Calls the release operation for every live object: explicit numbers
// ascending, then automatic numbers oldest first. Nothing without one.
void registry_release_all(ObjectTable* table);

// Calls visit(number, record) for every live object, explicit numbers
// ascending, then automatic numbers oldest first, holding the table's lock for
// the walk and no longer; visit returns false to stop it. visit may release the
// object it was given.
void registry_for_each(ObjectTable* table, const std::function<bool(object_number, void*)>& visit);

// Holds the table's lock for the caller's scope, so that a record looked up
// under it cannot be released by another thread meanwhile.
std::unique_lock<std::recursive_mutex> registry_hold(ObjectTable* table);

// The body of a kind's release operation: -1 releases every object with
// registry_release_all; any other number that names a live record has it
// handed to end_object, which ends the object and gives the record back. The
// record is looked up and ended under the table's hold.
template <typename Record, typename EndObject>
void registry_release_numbered(ObjectTable* table, object_number number, EndObject end_object) {
    if (number == -1) {
        registry_release_all(table);
        return;
    }
    auto hold = registry_hold(table);
    if (auto* record = static_cast<Record*>(registry_lookup(table, number))) {
        end_object(record);
    }
}

// Current number of slots (for tests and diagnostics).
std::size_t registry_capacity(ObjectTable* table);
