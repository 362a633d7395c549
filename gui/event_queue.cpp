#include "gui/event_queue.h"

#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

struct EventRecord {
    EventRecord* next;
    int code;
    int flags;
    int object;
    int window;
    int detail;
    void* data;
    event_release release;
};

struct CurrentEvent {
    int code;
    int object;
    int window;
    int detail;
    void* data;
    event_release release;
};

constexpr std::size_t FIRST_CHUNK = 16;
constexpr std::size_t LARGEST_CHUNK = 256;
constexpr int LARGEST_MERGED_CODE = 0xFFFF;

// Records come from chunks that are never given back; a free list recycles them.
// The queue's mutex guards the pool as well.
class RecordPool {
  public:
    EventRecord* take() {
        if (free_ == nullptr && !grow()) {
            return nullptr;
        }
        EventRecord* record = free_;
        free_ = record->next;
        return record;
    }

    void give_back(EventRecord* record) {
        record->next = free_;
        free_ = record;
    }

    bool grow() {
        std::size_t size = chunks_.empty() ? FIRST_CHUNK : next_chunk_;
        auto chunk = std::unique_ptr<EventRecord[]>(new (std::nothrow) EventRecord[size]);
        if (!chunk) {
            return false;
        }
        for (std::size_t i = 0; i < size; ++i) {
            give_back(&chunk[i]);
        }
        chunks_.push_back(std::move(chunk));
        next_chunk_ = size * 2 < LARGEST_CHUNK ? size * 2 : LARGEST_CHUNK;
        return true;
    }

  private:
    std::vector<std::unique_ptr<EventRecord[]>> chunks_;
    std::size_t next_chunk_ = FIRST_CHUNK;
    EventRecord* free_ = nullptr;
};

struct EventQueue {
    std::recursive_mutex mutex;
    RecordPool pool;
    EventRecord* head = nullptr;
    EventRecord* tail = nullptr;
    CurrentEvent current{};
};

// Never destroyed: a worker may still post while the process exits.
EventQueue* the_queue = nullptr;
std::once_flag queue_made;

// Changed only under gui_lock, but read by pushes on any thread.
std::atomic<int> events_suppressed{0};

EventQueue& queue() {
    std::call_once(queue_made, [] {
        the_queue = new EventQueue;
        the_queue->pool.grow();
    });
    return *the_queue;
}

// Bound event callbacks: the layer's hook for callbacks keyed by (code, window,
// object, detail). This program binds none, so there is nothing to look up.
void run_bound_callbacks_locked(const EventRecord&) {}

// Drag-and-drop payloads (codes 10 and 11) are produced nowhere in this
// program; these are the places where one would be kept and released.
void release_drop_payload() {}
void hold_drop_payload(int) {}

// The data of an event that is never queued, or is dropped from the queue, is
// released here: the pusher handed it over and nobody else will free it.
void release_data(void* data, event_release release) {
    if (data != nullptr && release != nullptr) {
        release(data);
    }
}

void unlink_matching_locked(EventQueue& q, int window, bool keep_posted) {
    EventRecord* kept_tail = nullptr;
    EventRecord** link = &q.head;
    while (*link != nullptr) {
        EventRecord* record = *link;
        bool drop = record->window == window && !(keep_posted && (record->flags & EVENT_POSTED));
        if (drop) {
            *link = record->next;
            release_data(record->data, record->release);
            q.pool.give_back(record);
        } else {
            kept_tail = record;
            link = &record->next;
        }
    }
    q.tail = kept_tail;
}

int event_take() {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    CurrentEvent& current = q.current;
    current.code = 0;
    if (current.data != nullptr && current.release != nullptr) {
        current.release(current.data);
        current.data = nullptr;
        current.release = nullptr;
    }
    current.detail = -1;
    if (q.head != nullptr) {
        EventRecord* record = q.head;
        current = {record->code,   record->object, record->window,
                   record->detail, record->data,   record->release};
        q.head = record->next;
        if (q.head == nullptr) {
            q.tail = nullptr;
        }
        if (record->flags & EVENT_POSTED) {
            run_bound_callbacks_locked(*record);
        }
        q.pool.give_back(record);
    }
    return current.code;
}

// The sleep between polls leaves gui_lock, as the toolkit's own iteration calls
// do, so a worker's locked call is not starved by a timed wait.
void sleep_without_gui_lock() {
    gdk_threads_leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    gdk_threads_enter();
}

// Polls for toolkit work until some is pending or more than timeout_ms have
// passed; a steady clock keeps a wall-clock change from stretching the wait.
bool wait_for_toolkit_work(int timeout_ms) {
    auto start = std::chrono::steady_clock::now();
    while (!gtk_events_pending()) {
        sleep_without_gui_lock();
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (elapsed.count() > timeout_ms) {
            return false;
        }
    }
    return true;
}

gboolean wake_main_thread(gpointer) {
    return FALSE;
}

} // namespace

void event_queue_init() {
    queue();
}

void event_push(int code, int object, int window, int detail, void* data, event_release release,
                int flags) {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    if (events_suppressed.load() > 0 && !(flags & EVENT_FORCE)) {
        release_data(data, release);
        return;
    }
    EventRecord* last = q.tail;
    bool repeats_last = code <= LARGEST_MERGED_CODE && last != nullptr && !(flags & EVENT_POSTED) &&
                        last->code == code && last->object == object && last->window == window &&
                        last->detail == detail;
    EventRecord event{nullptr, code, flags, object, window, detail, data, release};
    if (!repeats_last) {
        EventRecord* record = q.pool.take();
        if (record == nullptr) {
            release_data(data, release);
            return;
        }
        *record = event;
        if (last != nullptr) {
            last->next = record;
        } else {
            q.head = record;
        }
        q.tail = record;
    }
    if (!(flags & EVENT_POSTED)) {
        run_bound_callbacks_locked(event);
    }
    if (repeats_last) {
        release_data(data, release);
    }
}

void event_post_detail(int code, int window, int object, int detail) {
    event_push(code, object, window, detail, nullptr, nullptr, EVENT_FORCE | EVENT_POSTED);
    // After the queue's mutex is released: the main context has its own lock.
    g_timeout_add(0, wake_main_thread, nullptr);
}

void event_post(int code, int window, int object) {
    event_post_detail(code, window, object, 0);
}

int event_wait(int timeout_ms) {
    release_drop_payload();
    int code = event_take();
    if (code == 0) {
        if (timeout_ms < 0) {
            gtk_main_iteration();
            code = event_take();
            if (code == 0) {
                code = EVENT_IDLE;
            }
        } else {
            if (timeout_ms > 0) {
                wait_for_toolkit_work(timeout_ms);
            }
            if (gtk_events_pending()) {
                gtk_main_iteration_do(FALSE);
                code = event_take();
                if (code == 0) {
                    code = EVENT_IDLE;
                }
            } else {
                code = event_take();
            }
        }
    }
    if (code == EVENT_DROP || code == EVENT_DROP_PRIVATE) {
        hold_drop_payload(queue().current.detail);
    }
    return code;
}

int window_wait_event() {
    return event_wait(-1);
}

int event_code() {
    return queue().current.code;
}

int event_gadget() {
    return queue().current.object;
}

int event_window() {
    return queue().current.window;
}

int event_detail() {
    return queue().current.detail;
}

void* event_data() {
    return queue().current.data;
}

int event_peek_code() {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    return q.head != nullptr ? q.head->code : 0;
}

void event_discard_window(int window) {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    unlink_matching_locked(q, window, false);
}

void event_discard_window_signals(int window) {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    unlink_matching_locked(q, window, true);
}

void event_suppress_begin() {
    events_suppressed.fetch_add(1);
}

void event_suppress_end() {
    events_suppressed.fetch_sub(1);
}

void event_flush_toolkit() {
    while (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
    }
}

bool event_run_toolkit(int timeout_ms) {
    if (!gtk_events_pending() && (timeout_ms <= 0 || !wait_for_toolkit_work(timeout_ms))) {
        return false;
    }
    gtk_main_iteration_do(FALSE);
    return true;
}

int event_queue_length() {
    EventQueue& q = queue();
    std::scoped_lock hold(q.mutex);
    int length = 0;
    for (const EventRecord* record = q.head; record != nullptr; record = record->next) {
        ++length;
    }
    return length;
}
