// Toolkit start-up and the GUI lock.
//
// gui_lock is the one recursive mutex through which GDK serialises access to
// the toolkit (gdk_threads_enter/leave lock it). The main thread holds it from
// toolkit_start to toolkit_stop, at depth one whenever it waits for events: the
// toolkit's iteration calls release it once while they block, which is when a
// worker's locked operation goes through. Lock order: gui_lock before a
// registry table's lock or the event queue's mutex, never while either is held.
#pragma once

#include <mutex>

// The program's argument count and vector, saved by the entry procedure before
// any start-up step; the toolkit may remove the options it consumes.
extern int program_argument_count;
extern char** program_argument_vector;

// setlocale(LC_ALL, ""): every locale category from the environment.
void locale_init();

// Installs gui_lock as GDK's lock, starts thread support and the toolkit, and
// leaves the calling (main) thread holding gui_lock. A second call does nothing.
void toolkit_start();

// Releases the main thread's hold on gui_lock once; nothing if never started.
void toolkit_stop();

// The lock itself (for tests and for the few callers that must inspect it).
std::recursive_mutex& gui_lock();

// Scoped hold of gui_lock for an operation that a worker thread may call: takes
// it with gdk_threads_enter and, on leaving, flushes the display and releases
// it, so the change reaches the screen at once. On the main thread it nests
// inside the main thread's own hold.
class GuiLockHold {
  public:
    GuiLockHold();
    ~GuiLockHold();
    GuiLockHold(const GuiLockHold&) = delete;
    GuiLockHold& operator=(const GuiLockHold&) = delete;
};

// For an operation a worker thread may call on a numbered object: runs
// operation(found) under gui_lock, where find() looks the object up and yields
// none when it is absent. It looks first without gui_lock, so an absent object
// never touches the lock, and again once the lock is held, since the object may
// have gone while this thread waited; objects are destroyed only under
// gui_lock, so what the second look finds stays valid through the operation.
// Returns whether the operation ran.
template <typename Find, typename Operation>
bool with_gui_lock_if_found(Find find, Operation operation) {
    if (!find()) {
        return false;
    }
    GuiLockHold hold;
    auto found = find();
    if (!found) {
        return false;
    }
    operation(found);
    return true;
}
