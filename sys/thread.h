// Worker threads: a procedure of the program runs on a detached thread with a
// 1 MiB stack and its own thread text storage, beside the main thread.
//
// Every started thread that has not finished has a record in the thread list,
// which thread_list_lock guards. The lock is recursive and stands alone: no
// other lock is taken while it is held. The list and the lock live for the
// whole process, so a worker still running at exit never meets a destroyed one.
//
// A worker can be held in a pause: while its record's pause counter is above 0,
// SIGUSR1 makes it wait in the pause handler, looking again once a second.
// Nothing in this program raises a counter or sends the signal.
//
// Caveat: the pause handler takes thread_list_lock and walks the list, which is
// not async-signal-safe. Re-entry on a thread that already holds the lock works
// (the lock is recursive), but a signal that lands inside a lock or unlock call,
// or inside a change of the list, on the same thread is unsafe. Send SIGUSR1
// only to a worker that is running its procedure.
#pragma once

#include <cstdint>
#include <mutex>
#include <pthread.h>

// A procedure run on a worker thread; it receives the parameter given to
// thread_create.
using thread_procedure = void (*)(std::intptr_t parameter);

// Makes thread_list_lock ready. Main thread, once, at start-up before the
// toolkit starts; later calls do nothing.
void thread_system_init();

// Starts procedure(parameter) on a new detached thread. Returns the new
// thread's id (non-zero) once its record is complete; the procedure does not
// start before thread_create has released thread_list_lock. Returns 0 and
// leaves no record if no thread could be started. Any thread; takes
// thread_list_lock over the whole creation.
pthread_t thread_create(thread_procedure procedure, std::intptr_t parameter);

// Number of started threads whose procedure has not yet returned (records in
// the thread list). Any thread; takes thread_list_lock. Shutdown gives up
// process-wide state that workers reach only when this is 0.
int thread_running_count();

// Ends the thread system at shutdown: takes and releases thread_list_lock,
// since the program makes no locks of its own for it to destroy. Records of
// threads still running are left alone. Main thread, once, after toolkit_stop.
void thread_system_finish();

// The lock guarding the thread list (for tests and for callers that must
// inspect the list's state consistently).
std::recursive_mutex& thread_list_lock();
