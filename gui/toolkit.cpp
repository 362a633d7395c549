#include "gui/toolkit.h"

#include <clocale>
#include <gtk/gtk.h>

int program_argument_count = 0;
char** program_argument_vector = nullptr;

namespace {

bool toolkit_started = false;

std::recursive_mutex& the_gui_lock() {
    // Never destroyed: a worker may still take it while the process exits.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

void enter_gui_lock() {
    the_gui_lock().lock();
}

void leave_gui_lock() {
    the_gui_lock().unlock();
}

} // namespace

std::recursive_mutex& gui_lock() {
    return the_gui_lock();
}

void locale_init() {
    std::setlocale(LC_ALL, "");
}

void toolkit_start() {
    if (toolkit_started) {
        return;
    }
    // This order is required: the lock functions before thread support, thread
    // support before the toolkit.
    gdk_threads_set_lock_functions(G_CALLBACK(enter_gui_lock), G_CALLBACK(leave_gui_lock));
    g_thread_init(nullptr);
    gdk_threads_init();
    gtk_init(&program_argument_count, &program_argument_vector);
    toolkit_started = true;
    gdk_threads_enter();
}

void toolkit_stop() {
    if (toolkit_started) {
        gdk_threads_leave();
    }
}

GuiLockHold::GuiLockHold() {
    gdk_threads_enter();
}

GuiLockHold::~GuiLockHold() {
    gdk_flush();
    gdk_threads_leave();
}
