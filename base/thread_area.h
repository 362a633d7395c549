// Thread areas: fixed regions that a kind reserves in every thread's private
// block for per-thread state (the gadget layer's current container and default
// font, the status bar under construction).
//
// Areas are registered once, on the main thread during start-up, before any
// worker exists; a registration enlarges only the calling thread's block. Each
// thread's block is made, zero-filled with every area's init routine run, on its
// first thread_area_get, and destroyed when the thread ends.
#pragma once

#include <cstddef>

using thread_area_routine = void (*)(void* area);

// Reserves size bytes (rounded up to a multiple of the pointer size, so every
// area is pointer-aligned) and returns the area's
// offset. An init routine runs at once on the calling thread's new area.
std::size_t thread_area_register(std::size_t size, thread_area_routine init,
                                 thread_area_routine destroy);

// The calling thread's area at that offset. Any thread; never none.
void* thread_area_get(std::size_t offset);

// Typed access for a kind that keeps a struct in its area.
template <typename Area> Area* thread_area_get_as(std::size_t offset) {
    return static_cast<Area*>(thread_area_get(offset));
}
